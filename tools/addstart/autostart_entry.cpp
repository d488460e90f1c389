#include "autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace kelvor::addstart {

namespace {

bool is_control(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

// Newline, tab and carriage return have escapes; no other control character can be written
// in a desktop entry at all.
bool has_unwritable_character(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return is_control(c) && c != u'\n' && c != u'\t' && c != u'\r';
    });
}

QString file_name_of(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// Missing folders are created private to the user, as the base-directory rules ask.
bool make_folder(const QString& folder) {
    if (QFileInfo(folder).isDir())
        return true;
    const QString parent = QFileInfo(folder).path();
    if (parent != folder && !make_folder(parent))
        return false;
    return QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
           QFileInfo(folder).isDir();
}

// The rename is durable only once the folder that holds the new name is on disk.
bool sync_folder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

std::optional<QByteArray> read_existing(const QString& file) {
    QFile in(file);
    if (!QFileInfo(file).isFile() || !in.open(QIODevice::ReadOnly))
        return std::nullopt;
    return in.readAll();
}

// QSaveFile writes a temporary file in the same folder, syncs it and renames it over the
// entry: a reader sees the old entry or the new one, never a part.
QString write_atomically(const QString& folder, const QString& file, const QByteArray& text) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    if (out.write(text) != text.size() || !out.commit())
        return out.errorString();
    if (!sync_folder(folder))
        return QStringLiteral("cannot sync the folder to disk");
    return {};
}

Outcome refused(const QString& message) {
    return {exit_refused, QStringLiteral("AddStart: ") + message};
}

Outcome failed(const QString& message) {
    return {exit_failed, QStringLiteral("AddStart: ") + message};
}

} // namespace

QString escape_string_value(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        case u'\t':
            escaped += QStringLiteral("\\t");
            break;
        case u'\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString exec_argument(const QString& path) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        else if (c == u'%') // a lone % would start a field code
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    // Launchers undo the string escapes before the quoting, so they are applied last.
    return escape_string_value(quoted);
}

QString title_problem(const QString& title) {
    if (title.isEmpty())
        return QStringLiteral("the title is empty");
    if (title.contains(u'/'))
        return QStringLiteral("the title \"%1\" holds a path separator").arg(title);
    if (title.startsWith(u'.'))
        return QStringLiteral("the title \"%1\" starts with a dot").arg(title);
    if (std::any_of(title.begin(), title.end(), is_control))
        return QStringLiteral("the title holds a control character");
    return {};
}

QByteArray entry_text(const QString& title, const QString& executable) {
    const QString text =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Version=1.0\n"
                       "Name=%1\n"
                       "TryExec=%2\n"
                       "Exec=%3\n"
                       "Icon=%4\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n")
            .arg(escape_string_value(title), escape_string_value(executable),
                 exec_argument(executable), escape_string_value(file_name_of(executable)));
    return text.toUtf8();
}

bool disabled_by_user(const QByteArray& entry) {
    bool in_main_group = false;
    for (const QByteArray& raw : entry.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            in_main_group = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!in_main_group || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return true;
    }
    return false;
}

Outcome register_program(const QStringList& arguments, const QString& config_home) {
    if (arguments.size() < 2)
        return refused(QStringLiteral("usage: AddStart TITLE PATH..."));
    const QString& title = arguments.front();
    if (const QString problem = title_problem(title); !problem.isEmpty())
        return refused(problem);
    // A caller that splits a path at its spaces still names the right program.
    const QString path = arguments.mid(1).join(u' ');
    if (!QDir::isAbsolutePath(path))
        return refused(QStringLiteral("\"%1\" is not an absolute path").arg(path));
    if (has_unwritable_character(path))
        return refused(QStringLiteral("the path holds a control character"));
    const QFileInfo program(path);
    if (!program.isFile() || !program.isExecutable())
        return refused(QStringLiteral("\"%1\" is not an executable file").arg(path));
    if (config_home.isEmpty())
        return failed(QStringLiteral("no configuration folder (neither XDG_CONFIG_HOME nor HOME)"));

    const QString folder = QDir::cleanPath(config_home + QStringLiteral("/autostart"));
    const QString file = folder + u'/' + title + QStringLiteral(".desktop");
    const QByteArray text = entry_text(title, path);
    if (const auto existing = read_existing(file)) {
        // Rewriting a current entry would only churn the disk at every launch.
        if (*existing == text || disabled_by_user(*existing))
            return {};
    }
    if (!make_folder(folder))
        return failed(QStringLiteral("cannot create the folder \"%1\"").arg(folder));
    if (const QString error = write_atomically(folder, file, text); !error.isEmpty())
        return failed(QStringLiteral("cannot write \"%1\": %2").arg(file, error));
    // The entry is correct, but GLib and KIO look for the program before they undo the %%
    // escape, so GNOME and KDE skip it; say so rather than fail quietly at the next log-in.
    if (path.contains(u'%'))
        return {exit_ok, QStringLiteral("AddStart: warning: GNOME and KDE do not start a program "
                                        "whose path holds %; move \"%1\" to a folder without "
                                        "one")
                             .arg(path)};
    return {};
}

std::optional<QStringList> decode_arguments(int argc, const char* const* argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        QString text = QString::fromUtf8(raw);
        if (text.toUtf8() != raw)
            return std::nullopt;
        arguments.push_back(std::move(text));
    }
    return arguments;
}

QString config_home() {
    // Relative values are invalid by the base-directory rules; QStandardPaths would take them.
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(configured))
        return configured;
    const QString home = qEnvironmentVariable("HOME");
    return QDir::isAbsolutePath(home) ? home + QStringLiteral("/.config") : QString();
}

} // namespace kelvor::addstart
