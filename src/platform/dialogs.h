#pragma once

#include <QString>

class QWidget;

namespace kelvor::platform {

// Modal message boxes without an icon.
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

} // namespace kelvor::platform
