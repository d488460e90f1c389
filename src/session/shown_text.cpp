#include "session/shown_text.h"

#include <QList>
#include <algorithm>

namespace kelvor::session {

QString shown_text(const QString& stored) {
    // Two UTF-16 units per character at most, so the cut never decodes more than it keeps.
    QList<uint> characters = stored.left(2 * shown_text_length).toUcs4();
    characters.resize(std::min<qsizetype>(characters.size(), shown_text_length));
    for (uint& c : characters) {
        const QChar::Category category = QChar::category(char32_t(c));
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            c = u' ';
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                             characters.size());
}

} // namespace kelvor::session
