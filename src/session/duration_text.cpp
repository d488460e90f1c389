#include "session/duration_text.h"

namespace kelvor::session {

QString affiche_secondes(qint32 s) {
    // C++ division truncates toward zero and % takes the dividend's sign, as the text needs;
    // a negative count of minutes stops the text after the seconds.
    QString text = QString::number(s % 60) + QStringLiteral(" sec");
    const qint32 m = (s - s % 60) / 60;
    if (m <= 0)
        return text;
    text.prepend(QString::number(m % 60) + QStringLiteral(" min "));
    const qint32 h = (m - m % 60) / 60;
    if (h <= 0)
        return text;
    text.prepend(QString::number(h % 24) + QStringLiteral(" h "));
    const qint32 d = (h - h % 24) / 24;
    if (d <= 0)
        return text;
    text.prepend(QString::number(d % 365) + QStringLiteral(" day "));
    const qint32 y = (d - d % 365) / 365;
    if (y <= 0)
        return text;
    text.prepend(QString::number(y) + QStringLiteral(" year "));
    return text;
}

} // namespace kelvor::session
