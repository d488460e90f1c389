// AddStart TITLE PATH...: makes the program at PATH start with the user's desktop.
#include "autostart_entry.h"
#include "platform/user_dirs.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    using namespace kelvor::addstart;
    const auto arguments = decode_arguments(argc, argv);
    const Outcome outcome =
        arguments ? register_program(*arguments, kelvor::platform::config_home())
                  : Outcome{exit_refused,
                            QStringLiteral("AddStart: an argument is not valid UTF-8 and cannot "
                                           "be written in a desktop entry")};
    if (!outcome.message.isEmpty())
        std::fprintf(stderr, "%s\n", outcome.message.toLocal8Bit().constData());
    return outcome.exit_status;
}
