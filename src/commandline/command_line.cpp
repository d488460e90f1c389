#include "commandline/command_line.h"

#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "platform/sqlite_store.h"
#include "platform/standard_streams.h"
#include "platform/store_location.h"
#include "platform/store_recovery.h"
#include "platform/user_dirs.h"
#include "session/dates.h"
#include "session/numbers.h"
#include "session/running_session.h"
#include "session/store_names.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>

namespace kelvor::commandline {

namespace {

const QString version_text = QStringLiteral("kelvor " KELVOR_VERSION);

// The options every Qt program takes, with a value or without: they are the bar's, and its
// QApplication reads them.
const char* const toolkit_options_with_value[] = {"platform",      "platformpluginpath",
                                                  "platformtheme", "plugin",
                                                  "qmljsdebugger", "qwindowgeometry",
                                                  "qwindowicon",   "qwindowtitle",
                                                  "session",       "display",
                                                  "geometry",      "name",
                                                  "style",         "stylesheet",
                                                  "dialogs",       "fontengine",
                                                  "title",         "visual"};
const char* const toolkit_flags[] = {"reverse", "widgetcount", "nograb",
                                     "dograb",  "sync",        "testability"};

struct Options {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version and exit.")};
    QCommandLineOption days{QStringLiteral("days"),
                            QStringLiteral("Time used each day, locked and active: the last 7 "
                                           "days, or from --since to --until.")};
    QCommandLineOption report{QStringLiteral("report"),
                              QStringLiteral("Print the usage report's figures.")};
    QCommandLineOption months{QStringLiteral("months"),
                              QStringLiteral("Print one row per recorded month.")};
    QCommandLineOption sessions{QStringLiteral("sessions"),
                                QStringLiteral("Print one row per session of the history.")};
    QCommandLineOption since{QStringLiteral("since"),
                             QStringLiteral("With --days or --sessions: from <date> on "
                                            "(YYYY-MM-DD, today or yesterday)."),
                             QStringLiteral("date")};
    QCommandLineOption until{QStringLiteral("until"),
                             QStringLiteral("With --days or --sessions: up to <date>, included."),
                             QStringLiteral("date")};
    QCommandLineOption csv{QStringLiteral("csv"),
                           QStringLiteral("With --days, --months or --sessions: CSV (RFC 4180), "
                                          "lengths in seconds, dates in ISO 8601.")};
    QCommandLineOption json{QStringLiteral("json"),
                            QStringLiteral("With --days, --months or --sessions: a JSON array "
                                           "of objects, lengths in seconds, dates in ISO 8601.")};
    QCommandLineOption recover{
        QStringLiteral("recover"),
        QStringLiteral("Copy what can still be read of a damaged store into a new one, keeping "
                       "the damaged file aside. The bar must not run.")};
    QCommandLineParser parser;

    Options() {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            QStringLiteral("Measures how long and how often the computer is used. Without an "
                           "option, Kelvor starts\nits bar for this session. With one, it "
                           "prints what it has recorded and exits; it then\nneeds no display "
                           "and changes nothing (but --recover), also while the bar runs.\n\n"
                           "  kelvor --days                how long: the last 7 days, today last\n"
                           "  kelvor --days --since today  how long today"));
        parser.addOptions(
            {days, report, months, sessions, since, until, csv, json, recover, help, version});
        for (const char* name : toolkit_options_with_value) {
            QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("x"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
        for (const char* name : toolkit_flags) {
            QCommandLineOption option(QString::fromLatin1(name));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }
};

// What the parser found wrong, in the words of the program's other messages: the option as it
// was typed, with its dashes.
QString parse_error(const QCommandLineParser& parser, const QStringList& arguments) {
    const auto typed = [&](const QString& name) {
        for (const QString& argument : arguments.mid(1)) {
            if (argument.startsWith(u'-') &&
                argument.section(u'=', 0, 0).remove(QRegularExpression(QStringLiteral("^-+"))) ==
                    name)
                return argument.section(u'=', 0, 0);
        }
        return QStringLiteral("--") + name;
    };
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty())
        return QStringLiteral("unknown option '%1'").arg(typed(unknown.constFirst()));
    // The parser's other complaint: an option given without its value.
    static const QRegularExpression missing(QStringLiteral("'-*([^']+)'"));
    if (const auto match = missing.match(parser.errorText()); match.hasMatch())
        return QStringLiteral("option '%1' needs a value").arg(typed(match.captured(1)));
    return parser.errorText();
}

Request wrong(const QString& why) {
    Request request;
    request.error = why;
    return request;
}

QString store_note(const platform::StoreLocation& location, const char* what) {
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(what),
                                         platform::shown_path(location.store_path));
}

// " from DAY to DAY", " since DAY" or " until DAY", for a note about an empty table.
QString range_text(const DayRange& days) {
    const auto day = [](const QDate& date) { return date.toString(Qt::ISODate); };
    if (days.first.isValid() && days.last.isValid())
        return QStringLiteral(" from %1 to %2").arg(day(days.first), day(days.last));
    if (days.first.isValid())
        return QStringLiteral(" since %1").arg(day(days.first));
    return days.last.isValid() ? QStringLiteral(" until %1").arg(day(days.last)) : QString();
}

// A note or an error, on stderr: the options never show a box, nor need a display for one.
void note(const QString& text) {
    std::fprintf(stderr, "kelvor: %s\n", text.toLocal8Bit().constData());
}

// Standard output, where a write that fails (a full disk, a closed pipe whose signal is
// ignored, a closed descriptor) is an error of the whole run: a table cut short must not look
// like a whole one.
class StandardOutput final : public Output {
public:
    StandardOutput() : error_(platform::standard_output_was_closed() ? EBADF : 0) {
        // What is written comes in large pieces (a table's are 32 KiB): each goes out in one
        // system call, where a buffer would cut it in two at its 4 KiB boundaries.
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
    void write(QByteArrayView bytes) override {
        if (error_ == 0 && std::fwrite(bytes.data(), 1, std::size_t(bytes.size()), stdout) !=
                               std::size_t(bytes.size()))
            error_ = errno != 0 ? errno : EIO;
    }
    // Flushes; the status of the run so far: 0, or 1 after saying why on stderr.
    int finish() {
        if (error_ == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
            error_ = errno != 0 ? errno : EIO;
        if (error_ == 0)
            return 0;
        note(QStringLiteral("cannot write the output: %1").arg(platform::error_text(error_)));
        return 1;
    }

private:
    int error_;
};

// What a request prints from an open store; notes go to stderr on the way.
void figures(const Request& request, platform::SqliteStore& store,
             const platform::StoreLocation& location, Output& out) {
    namespace names = session::names;
    // A session runs when a copy holds the lock and the store says so; a copy that holds the
    // lock after its session was booked (it is ending) has none.
    const bool running =
        platform::InstanceLock::is_held(location.lock_path) && session::session_unbooked(store);
    const platform::SystemClock clock;
    // A plain table with no row prints nothing at all (CSV its header, JSON "[]"), so a line
    // on stderr says why; for an empty store, that line is already said.
    const bool quiet_table = request.format == Format::plain && store.found_format() != 0;
    if (request.action == Request::Action::report || request.action == Request::Action::months) {
        const auto booked = with_pending_crash_booked(store, running, clock);
        platform::SettingsStore& shown = booked ? *booked : store;
        if (request.action == Request::Action::months) {
            if (months_output(shown, request.format, out) == 0 && quiet_table)
                note(store_note(location, "no month recorded yet"));
            return;
        }
        return report_output(shown, clock,
                             running ? std::optional(session::saved_session_seconds(store))
                                     : std::nullopt,
                             QLocale(), out);
    }
    if (request.action == Request::Action::days) {
        const std::optional<std::size_t> shown =
            days_output(store, request.format, request.days, platform::locale_is_utf8(), out);
        if (!shown)
            note(store_note(location, "no days yet: this store was kept by an earlier Kelvor, "
                                      "and its days start at Kelvor's next start"));
        else if (*shown == 0 && quiet_table)
            note(QStringLiteral("no days recorded%1").arg(range_text(request.days)));
        return;
    }
    const std::optional<HistoryCount> history =
        sessions_output(store, running, request.format, request.days, out);
    if (!history) {
        note(store_note(location, "no session history yet: this store was kept by an earlier "
                                  "Kelvor, and its history starts at Kelvor's next start"));
        return;
    }
    if (history->shown == 0 && quiet_table) {
        note(QStringLiteral("no sessions%1")
                 .arg(request.days.first.isValid() || request.days.last.isValid()
                          ? range_text(request.days)
                          : QStringLiteral(" in the history yet")));
    }
    // The number of rows is known only once they are written: the note about the sessions
    // before the history comes after them.
    if (const double before_history =
            session::read_number(store, names::stat, names::nb_session, 0) - double(history->all);
        before_history > 0) {
        note(QStringLiteral("the history starts when this store was upgraded; the %1 sessions "
                            "before count only in the totals (--report)")
                 .arg(before_history, 0, 'f', 0));
    }
}

int print_figures(const Request& request) {
    const platform::StoreLocation location = platform::StoreLocation::standard();
    if (const QString problem = platform::store_directory_problem(location.directory);
        !problem.isEmpty()) {
        note(problem);
        return 1;
    }
    StandardOutput out;
    try {
        platform::SqliteStore store(location.store_path, platform::SqliteStore::Access::read_only);
        if (store.found_format() == 0) {
            // The tables of an empty store follow: nothing, a CSV header, or "[]".
            note(store_note(location, "no figures yet: Kelvor has not recorded a session"));
            if (request.action == Request::Action::report)
                return 0;
        }
        figures(request, store, location, out);
    } catch (const platform::StoreError& error) {
        out.finish();
        note(QString::fromStdString(error.what()));
        return 1;
    }
    return out.finish();
}

// Replaces a damaged store by what can be read of it, the damaged file kept aside. Never while a
// copy of Kelvor runs on it, and never on a file that is not a Kelvor store.
int recover(StandardOutput& out) {
    const platform::StoreLocation location = platform::StoreLocation::standard();
    if (const QString problem = platform::store_directory_problem(location.directory);
        !problem.isEmpty()) {
        note(problem);
        return 1;
    }
    if (!QFile::exists(QFile::decodeName(location.store_path))) {
        note(store_note(location, "nothing to recover: there is no store yet"));
        return 0;
    }
    platform::InstanceLock lock(location.lock_path);
    switch (lock.try_acquire()) {
    case platform::InstanceLock::Result::held_elsewhere:
        note(QStringLiteral("Kelvor is running on the store %1. Close its bar (its session is "
                            "then booked) and run kelvor --recover again.")
                 .arg(platform::shown_path(location.store_path)));
        return 1;
    case platform::InstanceLock::Result::failed:
        note(lock.error());
        return 1;
    case platform::InstanceLock::Result::acquired:
        break;
    }
    try {
        if (!platform::store_is_damaged(location.store_path)) {
            note(store_note(location, "nothing to recover: the store is not damaged"));
            return 0;
        }
        const platform::Recovery recovery =
            platform::recover_store(location.store_path, QDate::currentDate());
        out.write(
            QStringLiteral("Recovered %1: %2\n")
                .arg(platform::shown_path(location.store_path), platform::recovery_text(recovery))
                .toLocal8Bit());
    } catch (const platform::StoreError& error) {
        note(QString::fromStdString(error.what()));
        return 1;
    }
    return out.finish();
}

} // namespace

Request parse_arguments(const QStringList& arguments, const QDate& today) {
    Options o;
    if (!o.parser.parse(arguments))
        return wrong(parse_error(o.parser, arguments));
    if (!o.parser.positionalArguments().isEmpty())
        return wrong(QStringLiteral("unexpected argument '%1'")
                         .arg(o.parser.positionalArguments().constFirst()));
    Request request;
    if (o.parser.isSet(o.help)) {
        request.action = Request::Action::help;
        return request;
    }
    if (o.parser.isSet(o.version)) {
        request.action = Request::Action::version;
        return request;
    }
    const std::pair<const QCommandLineOption&, Request::Action> actions[] = {
        {o.days, Request::Action::days},
        {o.report, Request::Action::report},
        {o.months, Request::Action::months},
        {o.sessions, Request::Action::sessions},
        {o.recover, Request::Action::recover}};
    int chosen = 0;
    for (const auto& [option, action] : actions) {
        if (o.parser.isSet(option)) {
            request.action = action;
            ++chosen;
        }
    }
    if (chosen > 1)
        return wrong(QStringLiteral("--days, --report, --months, --sessions and --recover go one "
                                    "at a time"));
    const bool csv = o.parser.isSet(o.csv);
    const bool json = o.parser.isSet(o.json);
    if (csv && json)
        return wrong(QStringLiteral("--csv and --json go one at a time"));
    const bool listing =
        request.action == Request::Action::days || request.action == Request::Action::sessions;
    if ((csv || json) && !listing && request.action != Request::Action::months)
        return wrong(QStringLiteral("--csv and --json go with --days, --months or --sessions"));
    request.format = csv ? Format::csv : json ? Format::json : Format::plain;
    for (const auto& [option, day] :
         {std::pair(&o.since, &request.days.first), std::pair(&o.until, &request.days.last)}) {
        if (!o.parser.isSet(*option))
            continue;
        const QString name = QStringLiteral("--") + option->names().constFirst();
        if (!listing)
            return wrong(name + QStringLiteral(" goes with --days or --sessions"));
        const QString text = o.parser.value(*option);
        *day = session::day_named(text, today);
        if (!day->isValid())
            return wrong(name + QStringLiteral(" takes a day as YYYY-MM-DD, today or "
                                               "yesterday, not '%1'")
                                    .arg(text));
    }
    if (request.days.last.isValid() && request.days.first > request.days.last)
        return wrong(QStringLiteral("--since is after --until"));
    // How long this week: the last 7 days, today the last.
    if (request.action == Request::Action::days && !request.days.first.isValid() &&
        !request.days.last.isValid())
        request.days = {today.addDays(-6), today};
    return request;
}

QString help_text() {
    return Options().parser.helpText();
}

std::optional<int> run_command_line(int argc, char* argv[]) {
    if (argc <= 1)
        return std::nullopt;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const Request request = parse_arguments(arguments, platform::SystemClock().now().date());
    if (request.error.isEmpty() && request.action == Request::Action::start_bar)
        return std::nullopt;

    // From here on no display is needed, nor opened.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvor"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVOR_VERSION));
    if (!request.error.isEmpty()) {
        note(request.error);
        std::fputs("Try 'kelvor --help'.\n", stderr);
        return 2;
    }
    StandardOutput out;
    switch (request.action) {
    case Request::Action::help:
        out.write(help_text().toLocal8Bit());
        return out.finish();
    case Request::Action::version:
        out.write((version_text + u'\n').toLocal8Bit());
        return out.finish();
    case Request::Action::recover:
        return recover(out);
    default:
        return print_figures(request);
    }
}

} // namespace kelvor::commandline
