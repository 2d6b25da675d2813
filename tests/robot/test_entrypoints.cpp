// Nothing that goes wrong inside a timer, socket, menu or widget entry point may escape into the
// event loop: it would end the process. Two checks: the timers of the assembled engine are run
// while the reconnect of the silence check fails, and every place in the engine and the window
// where the event loop calls in is read from the sources.
#include "support/robotfixture.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;

namespace {

// The text with comments and the contents of string and character literals blanked, so that
// only code is searched.
QString codeOnly(const QString& source)
{
    QString out = source;
    enum class In
    {
        Code,
        Line,
        Block,
        String,
        Char
    } state = In::Code;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out[i];
        const QChar next = i + 1 < out.size() ? out[i + 1] : QChar();
        switch (state) {
        case In::Code:
            if (c == u'/' && next == u'/')
                state = In::Line;
            else if (c == u'/' && next == u'*')
                state = In::Block;
            else if (c == u'"')
                state = In::String;
            else if (c == u'\'' && !(i > 0 && out[i - 1].isDigit()))
                state = In::Char;
            continue;
        case In::Line:
            if (c == u'\n')
                state = In::Code;
            else
                out[i] = u' ';
            continue;
        case In::Block:
            if (c == u'*' && next == u'/') {
                out[i] = out[i + 1] = u' ';
                ++i;
                state = In::Code;
            } else if (c != u'\n') {
                out[i] = u' ';
            }
            continue;
        case In::String:
        case In::Char:
            if (c == u'\\') {
                out[i] = u' ';
                if (i + 1 < out.size())
                    out[++i] = u' ';
            } else if (c == (state == In::String ? u'"' : u'\'')) {
                state = In::Code;
            } else {
                out[i] = u' ';
            }
            continue;
        }
    }
    return out;
}

// The arguments of the call whose opening parenthesis is at open, split at its top-level commas;
// empty when the parentheses do not close.
QStringList arguments(const QString& code, qsizetype open, qsizetype* close = nullptr)
{
    QStringList args;
    int depth = 0;
    qsizetype start = open + 1;
    for (qsizetype i = open; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == u'(' || c == u'[' || c == u'{') {
            ++depth;
        } else if (c == u')' || c == u']' || c == u'}') {
            if (--depth == 0) {
                args << code.mid(start, i - start).trimmed();
                if (close)
                    *close = i;
                return args;
            }
        } else if (c == u',' && depth == 1) {
            args << code.mid(start, i - start).trimmed();
            start = i + 1;
        }
    }
    return {};
}

// The body of a lambda, without its braces; empty when the text is no lambda.
QString lambdaBody(const QString& slot, bool* isNoexcept)
{
    static const QRegularExpression head(
        u"^\\[[^\\]]*\\]\\s*(\\([^)]*\\))?\\s*(mutable\\s*)?(noexcept\\s*)?(->\\s*[\\w:<>]+\\s*)?\\{"_s);
    const QRegularExpressionMatch m = head.match(slot);
    if (!m.hasMatch())
        return {};
    *isNoexcept = !m.captured(3).isEmpty();
    return slot.mid(m.capturedEnd(), slot.lastIndexOf(u'}') - m.capturedEnd()).trimmed();
}

// Why a slot connected to the signal may let an error out, or empty when it may not. A slot is
// safe when it runs its work through the guard, or is one of the toolkit's own (which never
// throw; what they emit in turn is checked where it is connected). A reaction to a signal of the
// program's own, which only ever fires inside some guarded entry point, may instead declare that
// it cannot throw.
QString unsafeSlot(const QString& signal, const QString& slot)
{
    if (slot.startsWith(u"guard("_s))
        return {};
    static const QRegularExpression toolkitSlot(u"^&Q[A-Z]\\w*::\\w+$"_s);
    if (toolkitSlot.match(slot).hasMatch())
        return {};
    bool isNoexcept = false;
    const QString body = lambdaBody(slot, &isNoexcept);
    if (body.startsWith(u"guarded("_s)) {
        qsizetype close = 0;
        if (!arguments(body, body.indexOf(u'('), &close).isEmpty() &&
            body.mid(close + 1).trimmed() == u";")
            return {};
    }
    const bool toolkitSignal = signal.startsWith(u"&Q"_s);
    if (isNoexcept && !toolkitSignal)
        return {};
    return toolkitSignal ? u"an event loop entry point without the guard"_s
                         : u"a reaction that neither is guarded nor says noexcept"_s;
}

QStringList engineAndWindowSources()
{
    QStringList files;
    QDirIterator it(QStringLiteral(VIGILOR_SOURCE_DIR "/src"), {u"*.cpp"_s, u"*.h"_s}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        // main() and the platform folder are the process's own level, below the error handler:
        // what they call back is guarded where it is handed to them.
        if (!path.contains(u"/src/app/"_s) && !path.contains(u"/src/platform/"_s))
            files << path;
    }
    files.sort();
    return files;
}

// Every unsafe entry point found in one source text, as "line: what".
QStringList unguardedEntryPoints(const QString& source)
{
    const QString code = codeOnly(source);
    const auto lineOf = [&code](qsizetype at) { return code.first(at).count(u'\n') + 1; };
    QStringList found;

    static const QRegularExpression connectCall(u"(?<![\\w])connect\\s*\\("_s);
    for (auto it = connectCall.globalMatch(code); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QStringList args = arguments(code, m.capturedEnd() - 1);
        if (args.size() < 3)
            continue; // the declaration of a function of that name, or a call of another form
        const QString slot = args.size() >= 4 ? args[3] : args[2];
        if (const QString why = unsafeSlot(args[1], slot); !why.isEmpty())
            found << QString::number(lineOf(m.capturedStart())) + u": connect: "_s + why;
    }

    static const QRegularExpression singleShot(u"QTimer::singleShot\\s*\\("_s);
    for (auto it = singleShot.globalMatch(code); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QStringList args = arguments(code, m.capturedEnd() - 1);
        if (!args.isEmpty())
            if (const QString why = unsafeSlot(u"&QTimer::timeout"_s, args.back()); !why.isEmpty())
                found << QString::number(lineOf(m.capturedStart())) + u": singleShot: "_s + why;
    }

    // Event handlers: their work runs through the guard, or their class guards the one way
    // every event comes in (event(), and viewportEvent() too for a scroll area, whose viewport's
    // events come in there).
    static const QRegularExpression handler(
        u"\\b(?:(\\w+)::)?(event|\\w+Event|eventFilter)\\s*\\(([^;{()]*)\\)\\s*(const\\s*)?(override\\s*)?\\{"_s);
    QSet<QString> guardedEvent, guardedViewport;
    struct Handler
    {
        QString owner, name;
        qsizetype at;
    };
    QList<Handler> handlers;
    for (auto it = handler.globalMatch(code); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        qsizetype close = 0;
        arguments(code, m.capturedEnd() - 1, &close);
        const QString body = code.mid(m.capturedEnd(), close - m.capturedEnd());
        const QString owner = m.captured(1), name = m.captured(2);
        if (!body.contains(u"guarded("_s)) {
            handlers.append({owner, name, m.capturedStart()});
            continue;
        }
        if (name == u"event")
            guardedEvent.insert(owner);
        else if (name == u"viewportEvent")
            guardedViewport.insert(owner);
    }
    const bool scrollArea = code.contains(u"QAbstractScrollArea"_s);
    for (const Handler& h : handlers) {
        const bool coveredByClass = !h.owner.isEmpty() && h.name != u"event" &&
                                    h.name != u"viewportEvent" && guardedEvent.contains(h.owner) &&
                                    (!scrollArea || guardedViewport.contains(h.owner));
        if (!coveredByClass)
            found << QString::number(lineOf(h.at)) + u": "_s + h.name +
                         u": an event handler without the guard"_s;
    }
    return found;
}

} // namespace

class TestEntryPoints final : public QObject
{
    Q_OBJECT

private slots:
    void theCheckFindsWhatItLooksFor()
    {
        const QString bad =
            u"\n"
            u"X::X() {\n"
            u"connect(&m_timer, &QTimer::timeout, this, &X::tick);\n"
            u"connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });\n"
            u"connect(&m_timer, &QTimer::timeout, this, [this] { guarded(m_e, [this] { a(); }); "
            u"b(); });\n"
            u"connect(&m_timer, &QTimer::timeout, this, [this]() noexcept { tick(); });\n"
            u"connect(&m_settings, &Settings::changed, this, [this](Key k) { react(k); });\n"
            u"QTimer::singleShot(0, this, [this] { tick(); });\n"
            u"}\n"
            u"void X::closeEvent(QCloseEvent* e) { m_robot.close(); }\n"_s;
        QCOMPARE(unguardedEntryPoints(bad).size(), 7);
        // A class that guards event() covers its handlers; a scroll area needs viewportEvent()
        // guarded too, and an unguarded event() is itself an entry point without the guard.
        const QString view =
            u"bool V::event(QEvent* e) { bool h = true; guarded(m_e, [&] { h = "
            u"QAbstractScrollArea::event(e); }); return h; }\n"
            u"void V::keyPressEvent(QKeyEvent* e) { QAbstractScrollArea::keyPressEvent(e); }\n"
            u"void V::paintEvent(QPaintEvent* e) { draw(); }\n"_s;
        QCOMPARE(unguardedEntryPoints(view).size(), 2);
        QCOMPARE(unguardedEntryPoints(view +
                                      u"bool V::viewportEvent(QEvent* e) { bool h = true; "
                                      u"guarded(m_e, [&] { h = "
                                      u"QAbstractScrollArea::viewportEvent(e); }); return h; "
                                      u"}\n"_s),
                 QStringList());
        QCOMPARE(unguardedEntryPoints(u"bool W::event(QEvent* e) { return QWidget::event(e); }\n"
                                      u"void W::keyPressEvent(QKeyEvent* e) { guarded(m_e, [&] { "
                                      u"key(e); }); }\n"_s)
                     .size(),
                 1);
        const QString good =
            u"\n"
            u"X::X() {\n"
            u"connect(&m_timer, &QTimer::timeout, this, [this] { guarded(m_e, [this] { tick(); }); "
            u"});\n"
            u"connect(button, &QPushButton::clicked, this, guard(&robot, [this] { click(); }));\n"
            u"connect(box, &QLineEdit::returnPressed, say, &QPushButton::click);\n"
            u"connect(&m_settings, &Settings::changed, this, [this](Key) noexcept { ++m_n; });\n"
            u"socket->disconnect(this); // \"connect(\" inside a comment or \"a string\" is no "
            u"call\n"
            u"QTimer::singleShot(0, this, &QWidget::hide);\n"
            u"}\n"
            u"void X::closeEvent(QCloseEvent* e) { guarded(&m_robot, [this] { m_robot.close(); }); "
            u"}\n"
            u"void close() { QWidget::closeEvent(e); }\n"_s;
        QCOMPARE(unguardedEntryPoints(good), QStringList());
    }

    void sourcesGuardEveryEntryPoint()
    {
        const QStringList files = engineAndWindowSources();
        QVERIFY(files.size() > 20);
        QStringList found;
        for (const QString& path : files) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            for (const QString& place : unguardedEntryPoints(QString::fromUtf8(file.readAll())))
                found << path.mid(path.indexOf(u"/src/"_s) + 1) + u':' + place;
        }
        QVERIFY2(found.isEmpty(), qPrintable(u"\n"_s + found.join(u'\n')));
    }

    // The announcer, the time signal and every other timer of the engine while the silence
    // check finds the server gone and cannot open the link again: the error reaches the console
    // and the program goes on.
    void timersSurviveAFailingReconnect()
    {
        RobotFixture f(u"pw"_s);
        f.server.setFloodGuardMs(0);
        f.pointAtServer();
        Settings& s = f.robot.settings();
        s.setFlag(Key::CommandListener, true);
        link::Link& link = f.robot.link();
        const QString port = s.port();
        const QString echo = u"Parancs küldés: \"status\""_s;
        const QString failure =
            u"Nem sikerült csatlakozni a szerverhez: 127.0.0.1:0 (érvénytelen port: 0)."_s;

        QStringList names;
        QStringList failed;
        for (QTimer* timer : f.robot.findChildren<QTimer*>()) {
            names << timer->objectName();
            s.setPort(port);
            if (!link.isConnected()) {
                link.connectAction();
                settle(link);
            }
            QVERIFY(link.isConnected());
            s.setPort(u"0"_s); // the reconnect will fail
            f.robot.console().consoleLine(echo);
            f.robot.console().consoleLine(echo);
            const qsizetype mark = f.robot.console().size();
            QVERIFY(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
            QCoreApplication::sendPostedEvents(); // the reconnect's step
            const QStringList after = f.robot.console().lines().mid(mark);
            const bool reconnected = after.join(u'\n').contains(u"megszakadt"_s);
            QVERIFY2(!reconnected || after.join(u'\n').contains(failure),
                     qPrintable(timer->objectName()));
            if (reconnected)
                failed << timer->objectName();
        }
        for (const QString& known : {u"ListTimer"_s, u"Timer1"_s, u"Timer3"_s, u"Timer4"_s,
                                     u"Timer5"_s, u"rctimer"_s, u"SchedulerTimer"_s})
            QVERIFY2(names.contains(known), qPrintable(known));
        // Every timer whose work queues a command met the failure.
        failed.sort();
        QCOMPARE(failed, (QStringList{u"Timer1"_s, u"Timer3"_s, u"Timer4"_s, u"Timer5"_s}));
    }
};

QTEST_GUILESS_MAIN(TestEntryPoints)
#include "test_entrypoints.moc"
