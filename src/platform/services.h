#pragma once

namespace kelvor::platform {
class Clock;
class Dialogs;
class ProcessStarter;
class Store;
} // namespace kelvor::platform

namespace kelvor {

// What the windows may ask of the operating system; main() builds the real ones, tests
// build the same with a settable clock, recording dialogs and a recording process starter.
struct Services {
    platform::Store& store;
    const platform::Clock& clock;
    platform::Dialogs& dialogs;
    platform::ProcessStarter& starter;
};

} // namespace kelvor
