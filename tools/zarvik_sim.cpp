// zarvik-sim: a simulated sensor board on UDP for trying the program out and for the tests.
#include "sim_board.h"
#include "sim_commands.h"
#include "sim_console.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int BadUsage = 2;

int g_signalPipe[2] = {-1, -1};

void onQuitSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM/SIGINT end the event loop through a pipe, so shutdown runs outside the handler.
void quitOnSignals(QCoreApplication& app)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int fail(const QString& message)
{
    printError(QStringLiteral("zarvik-sim: ") + message);
    printError(QStringLiteral("usage: zarvik-sim [--bind ADDRESS] [--port N] [--temp CELSIUS] "
                              "[--bits N] [--verbose]  (--help for more)"));
    return BadUsage;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated sensor board. Commands on stdin: temp <celsius>, raw <n>, "
                       "bits <n>, rb1 <0|1>, rb0 <0|1>, size <n>, silent <on|off>, push [n], "
                       "pushto <address> <port> [n], quit."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption bindOption(QStringLiteral("bind"), QStringLiteral("Address to bind."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("UDP port, 0 picks a free one."),
                                        QStringLiteral("n"), QStringLiteral("10001"));
    const QCommandLineOption tempOption(QStringLiteral("temp"),
                                        QStringLiteral("Initial temperature in Celsius."),
                                        QStringLiteral("celsius"), QStringLiteral("25.0"));
    const QCommandLineOption bitsOption(QStringLiteral("bits"),
                                        QStringLiteral("Initial input bits (RB1 = 2, RB0 = 1)."),
                                        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Also print every reply sent."));
    parser.addOptions({bindOption, portOption, tempOption, bitsOption, verboseOption});

    if (!parser.parse(app.arguments()))
        return fail(parser.errorText());
    if (parser.isSet(helpOption)) {
        printLine(parser.helpText());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: ") + parser.positionalArguments()[0]);

    QHostAddress address;
    if (!address.setAddress(parser.value(bindOption)))
        return fail(QStringLiteral("not an address: ") + parser.value(bindOption));
    qint64 port = 0;
    if (!parseNumber(parser.value(portOption), 0, 65535, &port))
        return fail(QStringLiteral("bad port: ") + parser.value(portOption));
    bool validTemp = false;
    const double celsius = parser.value(tempOption).toDouble(&validTemp);
    if (!validTemp || !std::isfinite(celsius))
        return fail(QStringLiteral("bad temperature: ") + parser.value(tempOption));
    qint64 bits = 0;
    if (!parseNumber(parser.value(bitsOption), 0, 255, &bits))
        return fail(QStringLiteral("bad bits (0..255): ") + parser.value(bitsOption));

    BoardSimulator board(parser.isSet(verboseOption));
    board.setRaw(BoardSimulator::rawFromCelsius(celsius));
    board.setBits(static_cast<quint8>(bits));
    QObject::connect(&board, &BoardSimulator::output, &printLine);
    QObject::connect(&board, &BoardSimulator::warning, &printError);
    QString why;
    if (!board.bind(address, static_cast<quint16>(port), &why)) {
        printError(QStringLiteral("zarvik-sim: cannot bind %1: %2")
                       .arg(BoardSimulator::endpoint(address, static_cast<quint16>(port)), why));
        return BadUsage;
    }

    ConsoleReader console;
    QObject::connect(&console, &ConsoleReader::lineRead, &app, [&board](const QString& line) {
        const CommandResult result = runCommand(board, line);
        if (!result.answer.isEmpty())
            printLine(result.answer);
        if (result.quit)
            QCoreApplication::quit();
    });
    quitOnSignals(app);

    printLine(QStringLiteral("listening ") +
              BoardSimulator::endpoint(board.address(), board.port()));
    return app.exec();
}
