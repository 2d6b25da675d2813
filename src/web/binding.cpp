#include "web/binding.h"

#include "link/datagram.h"
#include "robot/robot.h"
#include "rules/banentry.h"
#include "text/clock.h"
#include "text/cp1250.h"
#include "text/textutil.h"
#include "text/timeformat.h"

#include <algorithm>

namespace vigilor::web {

namespace {

const QString kUndone = QStringLiteral("A művelet elmarad: ");

QJsonArray toArray(const QStringList& texts)
{
    QJsonArray array;
    for (const QString& text : texts)
        array.append(text);
    return array;
}

// One line of text: a command or a chat line with a line break would be two for the server.
bool oneLine(const QString& text)
{
    return std::none_of(text.begin(), text.end(),
                        [](QChar c) { return c == u'\n' || c == u'\r' || c == QChar(0); });
}

// A moment as the console writes it, or empty.
QString moment(const QDateTime& at)
{
    return at.isValid() ? text::dateTime(at) : QString();
}

// The scheduler's task as the header names it: what, and the start of its option (a command's
// secret masked as the console masks it).
QString taskText(const scheduler::Task& task)
{
    constexpr int kOptionShown = 60;
    QString text = task.kind;
    QString option = text::singleLine(task.option);
    if (scheduler::kindOf(task.kind) == scheduler::Kind::Command)
        option = link::maskedCommand(option);
    if (!option.isEmpty() && option != scheduler::kNoOptions) {
        text += QStringLiteral(": ") + option.left(kOptionShown);
        if (option.size() > kOptionShown)
            text += u'…';
    }
    return text;
}

} // namespace

Engine Engine::of(Robot& robot)
{
    return {robot.settings(),     robot.clock(),       robot.link(),       robot.console(),
            robot.intake(),       robot.roster(),      robot.serverInfo(), robot.rules(),
            robot.scheduler(),    robot.broadcaster(), robot.record(),     robot,
            robot.programFolder()};
}

Binding::Binding(const Engine& engine, QObject* parent) : QObject(parent), m_engine(engine)
{
    connect(&engine.link, &link::Link::connectedChanged, this,
            [this]() noexcept { emit stateChanged(); });
    connect(&engine.roster, &roster::Roster::rowsChanged, this,
            [this]() noexcept { emit stateChanged(); });
    connect(&engine.settings, &Settings::banListChanged, this,
            [this]() noexcept { emit stateChanged(); });
    connect(&engine.settings, &Settings::hostChanged, this,
            [this]() noexcept { emit stateChanged(); });
    connect(&engine.settings, &Settings::portChanged, this,
            [this]() noexcept { emit stateChanged(); });
    connect(&engine.serverInfo, &roster::ServerInfo::changed, this,
            [this]() noexcept { emit stateChanged(); });
    connect(&engine.scheduler, &scheduler::Scheduler::tasksChanged, this,
            [this]() noexcept { emit stateChanged(); });
    connect(&engine.settings, &Settings::changed, this, [this](Key key) noexcept {
        if (key == Key::Scheduler)
            emit stateChanged();
    });
    connect(&engine.console, &link::Console::linesAppended, this,
            [this]() noexcept { emit consoleChanged(); });
    connect(&engine.console, &link::Console::contentReset, this,
            [this]() noexcept { emit consoleReset(); });
}

QString shownConsoleLine(const QString& line)
{
    // The server's answer to reading the variable: "rconpassword" is:"VALUE^7" default:"...".
    for (QStringView name : {u"\"rconpassword\" is:", u"\"rcon_password\" is:"}) {
        const qsizetype at = line.indexOf(name, 0, Qt::CaseInsensitive);
        if (at < 0)
            continue;
        qsizetype value = at + name.size();
        if (value < line.size() && line[value] == u' ') // some servers put a blank there
            ++value;
        return line.left(value) + u'"' + link::kSecretMark + u'"';
    }
    return line;
}

StateSnapshot Binding::snapshot() const
{
    const Settings& settings = m_engine.settings;
    StateSnapshot snapshot;
    snapshot.connected = m_engine.link.isConnected();
    snapshot.address = settings.host() + u':' + settings.port();
    snapshot.linkSince = m_engine.link.stateSince();
    snapshot.server = m_engine.serverInfo.facts();
    snapshot.server.map = m_engine.serverInfo.map();
    if (const auto next = m_engine.scheduler.nextDue(m_engine.clock.now())) {
        snapshot.nextTaskAt = next->at;
        snapshot.nextTask = taskText(next->task);
    }
    const roster::Roster& roster = m_engine.roster;
    snapshot.rows = roster.rows();
    // Each row's last cell: the name with its colours, which the page draws; the name column
    // stays as the robot reads it, and names the player in acts.
    for (qsizetype row = 0; row < snapshot.rows.size(); ++row)
        snapshot.rows[row].append(roster.shownName(row));
    snapshot.bans = m_engine.rules.banList().entries();
    return snapshot;
}

QJsonObject stateJson(const StateSnapshot& snapshot)
{
    QJsonObject link;
    link[QStringLiteral("connected")] = snapshot.connected;
    link[QStringLiteral("text")] =
        snapshot.connected ? QStringLiteral("Csatlakozva") : QStringLiteral("Lecsatlakozva");
    link[QStringLiteral("address")] = snapshot.address;
    link[QStringLiteral("since")] = moment(snapshot.linkSince);

    QJsonObject server;
    server[QStringLiteral("name")] = snapshot.server.name;
    server[QStringLiteral("map")] = snapshot.server.map;
    server[QStringLiteral("gameType")] = snapshot.server.gameType;
    server[QStringLiteral("maxPlayers")] = snapshot.server.maxPlayers;
    QJsonObject next;
    if (snapshot.nextTaskAt.isValid()) {
        next[QStringLiteral("at")] = moment(snapshot.nextTaskAt);
        next[QStringLiteral("text")] = snapshot.nextTask;
    }

    QJsonArray rows;
    for (const QStringList& cells : snapshot.rows) {
        QJsonArray row;
        for (int column = 0; column <= roster::Roster::kColumns; ++column)
            row.append(cells.value(column, column == roster::Roster::kColumns ? cells.value(3)
                                                                              : QString()));
        rows.append(row);
    }
    QJsonArray bans;
    for (const QString& line : snapshot.bans) {
        QJsonObject entry;
        entry[QStringLiteral("line")] = line;
        entry[QStringLiteral("grade")] = rules::entryGrade(line);
        entry[QStringLiteral("text")] = rules::entryText(line);
        bans.append(entry);
    }

    QJsonObject state;
    state[QStringLiteral("link")] = link;
    state[QStringLiteral("server")] = server;
    state[QStringLiteral("nextTask")] = next;
    state[QStringLiteral("players")] = int(rows.size());
    state[QStringLiteral("rows")] = rows;
    state[QStringLiteral("bans")] = bans;
    return state;
}

QJsonArray linesJson(const QStringList& lines)
{
    QJsonArray array;
    for (const QString& line : lines)
        array.append(shownConsoleLine(line));
    return array;
}

QJsonObject Binding::captions()
{
    // Made once: every state the page asks for carries them.
    static const QJsonObject made = [] {
        QJsonArray menu;
        for (const rules::MenuItem& item : rules::listMenuItems()) {
            QJsonObject entry;
            switch (item.action) {
            case rules::MenuAction::Separator:
                entry[QStringLiteral("kind")] = QStringLiteral("separator");
                break;
            case rules::MenuAction::AweHeading:
                entry[QStringLiteral("kind")] = QStringLiteral("heading");
                entry[QStringLiteral("caption")] = item.caption;
                break;
            default:
                entry[QStringLiteral("kind")] = QStringLiteral("action");
                entry[QStringLiteral("id")] = item.objectName;
                entry[QStringLiteral("caption")] = item.caption;
                break;
            }
            menu.append(entry);
        }
        QJsonObject captions;
        captions[QStringLiteral("columns")] = toArray(roster::Roster::headerRow());
        captions[QStringLiteral("menu")] = menu;
        captions[QStringLiteral("grades")] = toArray(rules::gradeCaptions());
        return captions;
    }();
    return made;
}

qsizetype Binding::consoleSize() const
{
    return m_engine.console.size();
}

ConsoleSlice Binding::consoleSlice(qsizetype from) const
{
    const link::Console& console = m_engine.console;
    const qsizetype size = console.size();
    ConsoleSlice slice;
    slice.first = std::clamp(from, std::max<qsizetype>(0, size - kConsoleTail), size);
    const link::LineStore& lines = console.content();
    for (qsizetype i = slice.first; i < size; ++i) {
        // A line's colours, where the console still knows them, for the page to draw.
        slice.bytes +=
            console.hasColours(i) ? text::toCp1250(console.colouredLine(i)) : lines.bytes(i);
        slice.bytes += '\n';
    }
    return slice;
}

QStringList ConsoleSlice::lines() const
{
    if (bytes.isEmpty())
        return {};
    QStringList decoded = text::fromCp1250(bytes).split(u'\n');
    decoded.removeLast(); // after the last line's ending
    return decoded;
}

QJsonArray Binding::consoleLines(qsizetype from, qsizetype* first) const
{
    const ConsoleSlice slice = consoleSlice(from);
    if (first)
        *first = slice.first;
    return linesJson(slice.lines());
}

void Binding::note(const Actor& by, const QString& what)
{
    m_engine.console.consoleLine(QStringLiteral("Web (") + by.label() + QStringLiteral("): ") +
                                 what);
}

void Binding::recordAct(const Actor& by, const QString& what, const rules::TableRow& whom,
                        const QString& why)
{
    m_engine.record.add({{}, by.who(), by.address, what, whom.slot, whom.name, whom.address, why});
}

record::ActRecord& Binding::record()
{
    return m_engine.record;
}

ActResult Binding::leftUndone(int status, const QString& why)
{
    m_engine.console.consoleLine(kUndone + why);
    return {status, kUndone + why};
}

ActResult Binding::rosterAction(const Actor& by, const QString& item, const rules::TableRow& row,
                                const QString& reason)
{
    const QList<rules::MenuItem>& items = rules::listMenuItems();
    const auto found = std::find_if(items.begin(), items.end(), [&](const rules::MenuItem& m) {
        return !m.objectName.isEmpty() && m.enabled && m.objectName == item;
    });
    if (found == items.end())
        return {400, QStringLiteral("Ismeretlen művelet.")};
    // A player is offered by the row the page showed: a slot number, a name and an address.
    const bool slotOk = !row.slot.isEmpty() && row.slot.size() <= 3 &&
                        std::all_of(row.slot.begin(), row.slot.end(),
                                    [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (found->action != rules::MenuAction::Refresh &&
        (!slotOk || row.name.size() > kMaxText || row.address.size() > kMaxText ||
         !oneLine(row.name) || !oneLine(row.address)))
        return {400, QStringLiteral("Hibás játékos.")};
    if (reason.size() > kMaxText || !oneLine(reason))
        return {400, QStringLiteral("Az indok egyetlen, legfeljebb 1024 karakteres sor lehet.")};

    QString what = found->caption;
    if (found->action != rules::MenuAction::Refresh)
        what += QStringLiteral(" – ") + row.slot + QStringLiteral(". slot: ") + row.name +
                QStringLiteral(" (") + row.address + u')';
    if (!reason.isEmpty())
        what += QStringLiteral(", indok: ") + reason;
    note(by, what);
    link::Console& console = m_engine.console;
    const qsizetype mark = console.size();
    if (m_engine.rules.menu().run(found->action, row)) {
        if (rules::isRecordedAct(found->action))
            recordAct(by, found->caption, row, reason);
        return {};
    }
    // The menu said on the console why it left the act undone.
    for (qsizetype i = mark; i < console.size(); ++i) {
        const QString line = console.line(i);
        if (const qsizetype at = line.indexOf(kUndone); at >= 0)
            return {409, line.mid(at)};
    }
    return {409, kUndone + found->caption};
}

ActResult Binding::sendCommand(const Actor& by, const QString& command)
{
    if (command.size() > kMaxText || !oneLine(command))
        return {400, QStringLiteral("A parancs egyetlen, legfeljebb 1024 karakteres sor lehet.")};
    note(by, QStringLiteral("Küldés: ") + link::maskedCommand(command));
    link::Link& link = m_engine.link;
    if (!link.isConnected())
        return leftUndone(409, QStringLiteral("a robot nincs csatlakozva a szerverhez"));
    link.sendFromCommandBox(command);
    recordAct(by, QStringLiteral("Küldés"), {}, link::maskedCommand(command));
    return {};
}

ActResult Binding::say(const Actor& by, const QString& text)
{
    if (text.isEmpty())
        return {400, QStringLiteral("Üres üzenet.")};
    if (text.size() > kMaxText || !oneLine(text))
        return {400, QStringLiteral("Az üzenet egyetlen, legfeljebb 1024 karakteres sor lehet.")};
    note(by, QStringLiteral("Mondd: ") + text);
    if (!m_engine.link.isConnected())
        return leftUndone(409, QStringLiteral("a robot nincs csatlakozva a szerverhez"));
    m_engine.broadcaster.sayPublic(text);
    recordAct(by, QStringLiteral("Mondd"), {}, text);
    return {};
}

int Binding::banRow(int row, const QString& line) const
{
    const QStringList& entries = m_engine.rules.banList().entries();
    if (row >= 0 && row < entries.size() && entries[row] == line)
        return row;
    return int(entries.indexOf(line));
}

ActResult Binding::addBan(const Actor& by, const QString& text, int grade)
{
    if (text.isEmpty())
        return {400, QStringLiteral("Üres bejegyzés.")};
    if (text.size() > kMaxText || !oneLine(text))
        return {400, QStringLiteral("A bejegyzés egyetlen, legfeljebb 1024 karakteres sor lehet.")};
    if (grade < 0 || grade >= int(rules::gradeCaptions().size()))
        return {400, QStringLiteral("Hibás fokozat.")};
    note(by, QStringLiteral("Banlista +: ") + QString::number(grade) + u' ' + text);
    m_engine.rules.banList().add(text, grade);
    recordAct(by, QStringLiteral("Banlista +"), {{}, text, {}},
              rules::gradeCaptions().value(grade));
    return {};
}

ActResult Binding::setBanGrade(const Actor& by, int row, const QString& line, int grade)
{
    if (grade < 0 || grade >= int(rules::gradeCaptions().size()))
        return {400, QStringLiteral("Hibás fokozat.")};
    note(by, QStringLiteral("Banlista fokozat: ") + line + QStringLiteral(" -> ") +
                 QString::number(grade));
    const int at = banRow(row, line);
    if (at < 0)
        return leftUndone(409, QStringLiteral("a bejegyzés már nincs a banlistán: ") + line);
    m_engine.rules.banList().setGrade(at, grade);
    recordAct(by, QStringLiteral("Banlista fokozat"), {{}, rules::entryText(line), {}},
              rules::gradeCaptions().value(grade));
    return {};
}

ActResult Binding::removeBan(const Actor& by, int row, const QString& line)
{
    note(by, QStringLiteral("Banlista -: ") + line);
    const int at = banRow(row, line);
    if (at < 0)
        return leftUndone(409, QStringLiteral("a bejegyzés már nincs a banlistán: ") + line);
    m_engine.rules.banList().remove(at);
    recordAct(by, QStringLiteral("Banlista -"), {{}, rules::entryText(line), {}},
              rules::gradeCaptions().value(rules::entryGrade(line)));
    return {};
}

} // namespace vigilor::web
