#pragma once

#include <QIcon>
#include <QString>

class QWidget;

namespace kelvor::platform {

// Modal message boxes: no icon beside the text, Kelvor's stopwatch as their window's icon.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Yes and No, No the default; true on Yes.
    virtual bool ask_yes_no(QWidget* owner, const QString& title, const QString& text) = 0;
    // OK only. An empty title shows the application's name.
    virtual void tell(QWidget* owner, const QString& title, const QString& text) = 0;
};

class QtDialogs final : public Dialogs {
public:
    bool ask_yes_no(QWidget* owner, const QString& title, const QString& text) override;
    void tell(QWidget* owner, const QString& title, const QString& text) override;
};

// For an error that ends the program before any window exists: stderr, then a box when a
// display is there to show it.
void report_fatal(const QString& text);

// A damaged store found at the start: says so on stderr and, where a display is there to show
// it, asks whether to recover what can be read (true) or to quit. Without a box to ask in, the
// answer is to quit: the damaged store is never touched unasked.
bool offer_recovery(const QString& text);

// What the start did for the user (a store recovered): stderr, then a box when a display is
// there to show it.
void report_to_user(const QString& text);

// Kelvor's stopwatch: the icon theme's "kelvor" where Kelvor is installed, else the built-in
// one. The theme's look-up is dear; the windows take it once the event loop runs.
QIcon kelvor_icon();

} // namespace kelvor::platform
