#include "autostart_entry.h"

#include "platform/user_dirs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

// Why whatever is at the entry's name is the user's to manage, not ours to replace: a
// symbolic link (the user's own, into a folder of dotfiles say, or a trap) or a special file.
// Empty for a regular file, a folder (which cannot be replaced anyway) or nothing.
QString left_alone_because(const QByteArray& file) {
    struct ::stat st {};
    if (::lstat(file.constData(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        return {};
    return S_ISLNK(st.st_mode) ? QStringLiteral("is a symbolic link")
                               : QStringLiteral("is not a regular file");
}

std::optional<QByteArray> read_existing(const QByteArray& file) {
    const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    QFile in;
    if (fd < 0 || !in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    struct ::stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return in.readAll();
}

// The entry is written whole under a temporary name in the same folder, synced, and renamed
// over the old one: a reader sees the old entry or the new one, never a part. rename() replaces
// the name itself, never what a link there points to.
QString write_atomically(const QByteArray& folder, const QByteArray& file, const QByteArray& text) {
    QByteArray temporary = file + ".XXXXXX"; // not *.desktop: no desktop reads it meanwhile
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return platform::error_text(errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QFile out;
    bool written = ::fchmod(fd, 0666 & ~mask) == 0 &&
                   out.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle) &&
                   out.write(text) == text.size() && out.flush() && ::fsync(fd) == 0;
    const int error = errno;
    out.close();
    ::close(fd);
    if (!written || ::rename(temporary.constData(), file.constData()) != 0) {
        const int failure = written ? errno : error;
        ::unlink(temporary.constData());
        return platform::error_text(failure);
    }
    if (!platform::sync_folder(folder))
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

Outcome register_program(const QStringList& arguments, const QByteArray& config_home) {
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
        return failed(QStringLiteral("no configuration folder (no absolute XDG_CONFIG_HOME or "
                                     "HOME, and the account names no home directory)"));

    const QByteArray folder = config_home + "/autostart";
    const QByteArray file = folder + '/' + title.toUtf8() + ".desktop";
    const QString shown = platform::shown_path(file);
    if (const QString reason = left_alone_because(file); !reason.isEmpty())
        return {exit_ok, QStringLiteral("AddStart: \"%1\" %2, so it is yours to manage; it is "
                                        "left as it is")
                             .arg(shown, reason)};
    const QByteArray text = entry_text(title, path);
    if (const auto existing = read_existing(file)) {
        // Rewriting a current entry would only churn the disk at every launch.
        if (*existing == text || disabled_by_user(*existing))
            return {};
    }
    if (!platform::make_private_folders(folder))
        return failed(
            QStringLiteral("cannot create the folder \"%1\"").arg(platform::shown_path(folder)));
    if (const QString error = write_atomically(folder, file, text); !error.isEmpty())
        return failed(QStringLiteral("cannot write \"%1\": %2").arg(shown, error));
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

} // namespace kelvor::addstart
