#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <string_view>

namespace {

// Qt's own options, which the application object takes from the command line;
// true for those that take a value.
struct QtOption
{
    const char* name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"session", true},
    {"style", true},           {"stylesheet", true},
    {"display", true},         {"geometry", true},
    {"reverse", false},        {"nograb", false},
    {"dograb", false},         {"sync", false},
    {"widgetcount", false},
};

const QtOption* qtOption(const QString& argument)
{
    if (!argument.startsWith(u'-') || argument.startsWith(QStringLiteral("--")))
        return nullptr;
    const QString name = argument.mid(1).section(u'=', 0, 0);
    for (const QtOption& option : kQtOptions) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

// Our own arguments; `styleChosen` tells whether Qt's were to include -style.
QStringList withoutQtOptions(const QStringList& arguments, bool& styleChosen)
{
    QStringList ours;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QtOption* option = i > 0 ? qtOption(arguments[i]) : nullptr;
        if (!option) {
            ours.append(arguments[i]);
            continue;
        }
        if (option->name == std::string_view("style"))
            styleChosen = true;
        if (option->takesValue && !arguments[i].contains(u'='))
            ++i;
    }
    return ours;
}

CommandLine stop(int status, const QString& text, bool isError)
{
    CommandLine line;
    line.exitStatus = status;
    line.output = text;
    line.outputIsError = isError;
    return line;
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Administers a Battlefield 2 server through its remote console.\n"
                       "Qt's standard options (-platform, -style, ...) are accepted too."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and exits."));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Keeps the settings in <file> instead of the usual place."),
                                      QStringLiteral("file"));
    const QCommandLineOption database(
        QStringLiteral("database"),
        QStringLiteral("Keeps the player history in the store at <url>: a SQLite file, or a "
                       "postgresql:// URL (default: $RAVELIN_DATABASE, else players.sqlite in the data folder)."),
        QStringLiteral("url"));
    parser.addOptions({help, version, settings, database});

    const QString program = QStringLiteral("ravelin");
    const QString tryHelp = QStringLiteral("Try '%1 --help'.\n").arg(program);
    bool styleChosen = false;
    if (!parser.parse(withoutQtOptions(arguments, styleChosen)))
        return stop(2, program + QStringLiteral(": ") + parser.errorText() + u'\n' + tryHelp, true);
    if (parser.isSet(help)) {
        // Without an application object yet, the parser cannot name the program.
        return stop(0, parser.helpText().replace(QStringLiteral("<executable_name>"), program), false);
    }
    if (parser.isSet(version))
        return stop(0, program + u' ' + QCoreApplication::applicationVersion() + u'\n', false);
    if (!parser.positionalArguments().isEmpty()) {
        return stop(2,
                    program + QStringLiteral(": unexpected argument '%1'\n").arg(parser.positionalArguments().first())
                        + tryHelp,
                    true);
    }
    CommandLine line;
    line.settingsPath = parser.value(settings);
    line.databaseUrl = parser.value(database);
    line.styleChosen = styleChosen;
    return line;
}
