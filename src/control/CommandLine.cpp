#include "CommandLine.h"

#include "CommandFormat.h"
#include "Log.h"
#include "MixerClient.h"
#include "MixerModel.h"
#include "NameMatch.h"
#include "Volume.h"
#include "VolumeText.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace corvalle {

namespace {

const QString kJsonOption = QStringLiteral("--json");
const QString kVerboseOption = QStringLiteral("--verbose");

constexpr double kDefaultStep = 0.05;
// How long `output` waits for the instance to announce a device the audio system
// took the request for.
constexpr std::chrono::milliseconds kOutputSettle{3000};

const char* const kUsage =
    "Usage: corvalle [--json] [--verbose] COMMAND [ARGUMENTS]\n"
    "\n"
    "Controls the running Corvalle mixer.\n"
    "\n"
    "Commands:\n"
    "  list                 the applications with their level, mute switch and state\n"
    "  get APP              one application\n"
    "  set APP VOLUME       set the volume: 150%, 150 or 1.5x; +5% or -5% changes it\n"
    "  up APP [AMOUNT]      raise the volume by AMOUNT (5% when not given)\n"
    "  down APP [AMOUNT]    lower the volume by AMOUNT (5% when not given)\n"
    "  mute APP             mute the application\n"
    "  unmute APP           unmute the application\n"
    "  toggle-mute APP      mute or unmute the application\n"
    "  reset APP            back to 100% and unmuted; its output, mark and every other\n"
    "                       choice for it are forgotten\n"
    "  output               the output devices; * marks the current one\n"
    "  output DEVICE        make DEVICE the output\n"
    "  route APP DEVICE     play APP on DEVICE, whatever the default output is\n"
    "  route APP default    let APP play where it chooses (the default output)\n"
    "  limiter              whether a boost past full scale is lowered smoothly (on)\n"
    "  limiter on|off       lower it smoothly, or clip it: as loud as possible, distorted\n"
    "  duck APP             whether APP lowers the others while it plays, as a call\n"
    "  duck APP on|off      mark APP to lower the others while it plays, or unmark it\n"
    "  duck-level           the level the others go to during a call (30%)\n"
    "  duck-level PERCENT   set it: 0% silences them, 100% leaves them as they are\n"
    "  per-output APP       whether APP remembers a level for each output device\n"
    "  per-output APP on|off  remember one for each output, or one level everywhere\n"
    "  shortcuts APP        whether APP has keyboard shortcuts of its own\n"
    "  shortcuts APP on|off declare keys to raise, lower and mute APP, or take them away\n"
    "  show                 open the mixer window\n"
    "  help                 this text\n"
    "\n"
    "APP is an application's key, its name in any case, or the start of either when\n"
    "only one application has it. An installed application that is not running can\n"
    "be given by its desktop file id or its whole name: its setting is remembered\n"
    "and applies from its next start. DEVICE is a device's ID, or its name or a part\n"
    "of it.\n"
    "Volumes go from 0% to 400%; a volume outside that range is set to the nearest end.\n"
    "A stream that says it carries a call lowers the others without a mark.\n"
    "--json prints results, and errors, as JSON on standard output.\n"
    "--verbose logs the calls to the running mixer on standard error.\n"
    "\n"
    "Exit status: 0 done; 1 Corvalle is not running, or the change failed;\n"
    "2 wrong command line; 3 nothing matches APP or DEVICE; 4 more than one does.\n";

struct Failure {
    int exitCode = kExitFailed;
    QString message;
    QJsonArray candidates;
};

// What a step that can fail hands back: its value, or else the exit code of the
// failure it has already reported.
template <typename T> struct Checked {
    std::optional<T> value;
    int exitCode = kExitDone;
};

class CommandRun;

// One row a verb: its name, how many words may follow it, whether it talks to
// the running instance, what does it, and what a word too many is told (by
// default, which word was unexpected).
struct Verb {
    const char* name = nullptr;
    qsizetype leastWords = 0;
    qsizetype mostWords = 0;
    bool needsInstance = true;
    int (CommandRun::*run)(const QStringList& words) = nullptr;
    const char* tooManyWords = nullptr;
};

// One run of the command line: the parsed words, the client, and where it writes.
class CommandRun {
public:
    CommandRun(QDBusConnection bus, QTextStream& out, QTextStream& err)
        : client_(std::move(bus)), out_(out), err_(err) {}

    int run(const QStringList& arguments);

    // The verbs, one row each, in the order of the usage text.
    static const Verb kVerbs[];

private:
    int dispatch(const Verb& verb, const QStringList& words);
    int help(const QStringList& words);
    int list(const QStringList& words);
    int get(const QStringList& words);
    int set(const QStringList& words);
    int up(const QStringList& words);
    int down(const QStringList& words);
    int mute(const QStringList& words);
    int unmute(const QStringList& words);
    int toggleMute(const QStringList& words);
    int reset(const QStringList& words);
    int output(const QStringList& words);
    int route(const QStringList& words);
    Checked<BusOutput> resolveOutput(const QString& query, const std::vector<BusOutput>& outputs);
    int show(const QStringList& words);
    int limiter(const QStringList& words);
    int duck(const QStringList& words);
    int duckLevel(const QStringList& words);
    int perOutput(const QStringList& words);
    // APP [on|off]: shows a switch of APP, or sets it through `set` first.
    int applicationSwitch(
        const QStringList& words, const char* verb,
        const std::function<std::optional<ApplicationState>(const QString& key, bool on)>& set,
        const std::function<const char*(const ApplicationState&)>& describe);
    int shortcuts(const QStringList& words);
    int step(const QStringList& words, double sign);
    int change(const QStringList& words,
               const std::function<std::optional<ApplicationState>(const QString& key)>& call);

    int fail(const Failure& failure);
    int usageError(const QString& message);
    int busFailure();
    int notRunning(const QString& detail);
    std::optional<int> refuseWordCount(const Verb& verb, const QStringList& words);
    Checked<ApplicationState> resolveApplication(const QString& query);
    Checked<ApplicationState> resolveInstalledApplication(const QString& query);
    static Failure ambiguousApplication(const QString& query,
                                        const std::vector<ApplicationState>& fitting);
    static void appendCandidates(Failure& failure,
                                 const std::vector<ApplicationState>& applications);
    int printApplication(const ApplicationState& application, std::optional<double> requested);
    void printJson(const QJsonObject& object);

    MixerClient client_;
    QTextStream& out_;
    QTextStream& err_;
    bool json_ = false;
};

const Verb CommandRun::kVerbs[] = {
    {"list", 0, 0, true, &CommandRun::list},
    {"get", 1, 1, true, &CommandRun::get},
    {"set", 2, 2, true, &CommandRun::set},
    {"up", 1, 2, true, &CommandRun::up},
    {"down", 1, 2, true, &CommandRun::down},
    {"mute", 1, 1, true, &CommandRun::mute},
    {"unmute", 1, 1, true, &CommandRun::unmute},
    {"toggle-mute", 1, 1, true, &CommandRun::toggleMute},
    {"reset", 1, 1, true, &CommandRun::reset},
    {"output", 0, 1, true, &CommandRun::output, "output takes at most one device"},
    {"route", 2, 2, true, &CommandRun::route, "route takes an application and one device"},
    {"show", 0, 0, true, &CommandRun::show},
    {"limiter", 0, 1, true, &CommandRun::limiter, "limiter takes on or off"},
    {"duck", 1, 2, true, &CommandRun::duck, "duck takes an application and on or off"},
    {"duck-level", 0, 1, true, &CommandRun::duckLevel, "duck-level takes one level"},
    {"per-output", 1, 2, true, &CommandRun::perOutput,
     "per-output takes an application and on or off"},
    {"shortcuts", 1, 2, true, &CommandRun::shortcuts,
     "shortcuts takes an application and on or off"},
    {"help", 0, std::numeric_limits<qsizetype>::max(), false, &CommandRun::help},
};

const Verb* findVerb(const QString& word) {
    const auto* verb = std::ranges::find_if(
        CommandRun::kVerbs, [&](const Verb& row) { return word == QLatin1String(row.name); });
    return verb == std::end(CommandRun::kVerbs) ? nullptr : verb;
}

int CommandRun::run(const QStringList& arguments) {
    // Known before anything can go wrong, so every error comes out in one format.
    const auto jsonAt = arguments.indexOf(kJsonOption);
    const auto endAt = arguments.indexOf(QStringLiteral("--"));
    json_ = jsonAt >= 0 && (endAt < 0 || jsonAt < endAt);
    QStringList words;
    bool help = false;
    bool optionsEnded = false;
    for (const auto& argument : arguments) {
        if (optionsEnded) {
            words.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == kJsonOption) {
            continue;
        } else if (argument == kVerboseOption) {
            enableVerboseLogging();
        } else if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            help = true;
        } else if (argument.startsWith(QLatin1String("--"))) {
            return usageError(QStringLiteral("unknown option %1").arg(printable(argument)));
        } else {
            words.append(argument);
        }
    }
    if (help) {
        return this->help(words);
    }
    if (words.isEmpty()) {
        return usageError(QStringLiteral("no command given"));
    }
    const auto word = words.takeFirst();
    const Verb* verb = findVerb(word);
    if (verb == nullptr) {
        return usageError(QStringLiteral("unknown command %1").arg(printable(word)));
    }
    return dispatch(*verb, words);
}

int CommandRun::dispatch(const Verb& verb, const QStringList& words) {
    // Check the words before asking the bus, so mistakes are reported the same way
    // whether or not Corvalle runs.
    if (const auto refused = refuseWordCount(verb, words)) {
        return *refused;
    }
    if (verb.needsInstance) {
        if (!client_.isConnected()) {
            return notRunning(QStringLiteral("There is no session bus."));
        }
        if (!client_.isServiceRunning()) {
            return notRunning(QString());
        }
    }
    return (this->*verb.run)(words);
}

std::optional<int> CommandRun::refuseWordCount(const Verb& verb, const QStringList& words) {
    if (words.size() < verb.leastWords) {
        return usageError(QStringLiteral("missing arguments"));
    }
    if (words.size() <= verb.mostWords) {
        return std::nullopt;
    }
    if (verb.tooManyWords != nullptr) {
        return usageError(QString::fromLatin1(verb.tooManyWords));
    }
    return usageError(
        QStringLiteral("unexpected argument %1").arg(printable(words.at(verb.mostWords))));
}

int CommandRun::help(const QStringList& /*words*/) {
    out_ << kUsage;
    return kExitDone;
}

int CommandRun::list(const QStringList& /*words*/) {
    const auto applications = client_.listApplications();
    if (!applications) {
        return busFailure();
    }
    const auto lastError = client_.lastError();
    if (json_) {
        QJsonArray array;
        for (const auto& application : *applications) {
            array.append(applicationJson(application));
        }
        QJsonObject object{{QStringLiteral("applications"), array}};
        object.insert(QStringLiteral("lastError"), lastError && !lastError->isEmpty()
                                                       ? QJsonValue(*lastError)
                                                       : QJsonValue(QJsonValue::Null));
        printJson(object);
        return kExitDone;
    }
    if (applications->empty()) {
        out_ << "No application is playing or remembered.\n";
    } else {
        out_ << applicationTable(*applications);
    }
    if (lastError && !lastError->isEmpty()) {
        out_ << "Last error: " << printable(*lastError) << '\n';
    }
    return kExitDone;
}

int CommandRun::get(const QStringList& words) {
    const auto application = resolveApplication(words.at(0));
    if (!application.value) {
        return application.exitCode;
    }
    return printApplication(*application.value, std::nullopt);
}

int CommandRun::set(const QStringList& words) {
    const auto volume = parseVolumeText(words.at(1));
    if (!volume) {
        return usageError(QStringLiteral("%1 is not a volume; write it as 150%, 150, 1.5x, +5% "
                                         "or -5%")
                              .arg(printable(words.at(1))));
    }
    const auto application = resolveApplication(words.at(0));
    if (!application.value) {
        return application.exitCode;
    }
    const QString& key = application.value->key;
    if (volume->relative) {
        const double base = Volume::clamped(application.value->volume);
        const auto result = client_.stepVolume(key, volume->volume);
        return result ? printApplication(*result, base + volume->volume) : busFailure();
    }
    const auto result = client_.setVolume(key, volume->volume);
    return result ? printApplication(*result, volume->volume) : busFailure();
}

int CommandRun::step(const QStringList& words, double sign) {
    double amount = kDefaultStep;
    if (words.size() > 1) {
        const auto parsed = parseVolumeText(words.at(1));
        if (!parsed || parsed->volume < 0.0) {
            return usageError(QStringLiteral("%1 is not an amount; write it as 5%, 5 or 0.05x")
                                  .arg(printable(words.at(1))));
        }
        amount = parsed->volume;
    }
    const auto application = resolveApplication(words.at(0));
    if (!application.value) {
        return application.exitCode;
    }
    const double base = Volume::clamped(application.value->volume);
    const auto result = client_.stepVolume(application.value->key, sign * amount);
    return result ? printApplication(*result, base + sign * amount) : busFailure();
}

int CommandRun::up(const QStringList& words) {
    return step(words, 1.0);
}

int CommandRun::down(const QStringList& words) {
    return step(words, -1.0);
}

int CommandRun::mute(const QStringList& words) {
    return change(words, [&](const QString& key) { return client_.setMute(key, true); });
}

int CommandRun::unmute(const QStringList& words) {
    return change(words, [&](const QString& key) { return client_.setMute(key, false); });
}

int CommandRun::toggleMute(const QStringList& words) {
    return change(words, [&](const QString& key) { return client_.toggleMute(key); });
}

int CommandRun::reset(const QStringList& words) {
    return change(words, [&](const QString& key) { return client_.reset(key); });
}

int CommandRun::change(
    const QStringList& words,
    const std::function<std::optional<ApplicationState>(const QString& key)>& call) {
    const auto application = resolveApplication(words.at(0));
    if (!application.value) {
        return application.exitCode;
    }
    const auto result = call(application.value->key);
    return result ? printApplication(*result, std::nullopt) : busFailure();
}

int CommandRun::output(const QStringList& words) {
    const auto outputs = client_.listOutputs();
    const auto current = outputs ? client_.currentOutput() : std::nullopt;
    if (!outputs || !current) {
        return busFailure();
    }
    if (words.isEmpty()) {
        if (json_) {
            QJsonArray array;
            for (const auto& device : *outputs) {
                auto object = outputJson(device);
                object.insert(QStringLiteral("current"), device.id == current->id);
                array.append(object);
            }
            printJson({{QStringLiteral("outputs"), array},
                       {QStringLiteral("current"), outputJson(*current)}});
        } else if (outputs->empty()) {
            out_ << "No output device.\n";
        } else {
            out_ << outputTable(*outputs, current->id);
        }
        return kExitDone;
    }

    const auto found = resolveOutput(words.at(0), *outputs);
    if (!found.value) {
        return found.exitCode;
    }
    const auto& wanted = *found.value;
    auto result = client_.selectOutput(wanted.id);
    if (!result) {
        return busFailure();
    }
    if (result->id != wanted.id) {
        // Taken, but the audio system applies it on its own time.
        result = client_.waitForOutput(wanted.id, kOutputSettle);
        if (!result) {
            return busFailure();
        }
    }
    if (result->id != wanted.id) {
        return fail(
            {kExitFailed,
             QStringLiteral("the audio system kept %1 as the output").arg(printable(result->name)),
             {}});
    }
    if (json_) {
        printJson(outputJson(*result));
    } else {
        out_ << "Output: " << printable(result->name) << '\n';
    }
    return kExitDone;
}

// A device by its ID, or its name or a part of it.
Checked<BusOutput> CommandRun::resolveOutput(const QString& query,
                                             const std::vector<BusOutput>& outputs) {
    std::vector<NameCandidate> candidates;
    candidates.reserve(outputs.size());
    for (const auto& device : outputs) {
        candidates.push_back({QString::number(device.id), device.name});
    }
    const auto match = matchName(query, candidates, NameMatchScope::substring);
    if (match.kind == NameMatch::Kind::found) {
        return {outputs[match.indices.front()]};
    }
    const bool ambiguous = match.kind == NameMatch::Kind::ambiguous;
    Failure failure;
    failure.exitCode = ambiguous ? kExitAmbiguous : kExitNoMatch;
    failure.message =
        ambiguous
            ? QStringLiteral("%1 matches more than one output device:").arg(printable(query))
            : QStringLiteral("no output device matches %1; the devices are:").arg(printable(query));
    std::vector<std::size_t> shown = match.indices;
    if (!ambiguous) {
        for (std::size_t index = 0; index < outputs.size(); ++index) {
            shown.push_back(index);
        }
    }
    for (const auto index : shown) {
        failure.candidates.append(outputJson(outputs[index]));
    }
    return {std::nullopt, fail(failure)};
}

// "default" (as a whole word) hands the application back to the default output;
// anything else names a device as `output` does.
int CommandRun::route(const QStringList& words) {
    uint deviceID = 0;
    if (words.at(1) != QLatin1String("default")) {
        const auto outputs = client_.listOutputs();
        if (!outputs) {
            return busFailure();
        }
        const auto device = resolveOutput(words.at(1), *outputs);
        if (!device.value) {
            return device.exitCode;
        }
        deviceID = device.value->id;
    }
    const auto application = resolveApplication(words.at(0));
    if (!application.value) {
        return application.exitCode;
    }
    const auto result = client_.routeApplication(application.value->key, deviceID);
    if (!result) {
        return busFailure();
    }
    if (json_) {
        printJson(applicationJson(*result));
    } else {
        out_ << printable(result->name) << ": plays on "
             << (result->output.isEmpty() ? QStringLiteral("the default output")
                                          : printable(result->outputName))
             << '\n';
    }
    return kExitDone;
}

int CommandRun::limiter(const QStringList& words) {
    std::optional<bool> on;
    if (!words.isEmpty()) {
        const QString word = words.at(0).toLower();
        if (word != QLatin1String("on") && word != QLatin1String("off")) {
            return usageError(
                QStringLiteral("limiter takes on or off, not %1").arg(printable(words.at(0))));
        }
        on = word == QLatin1String("on");
    }
    const auto state = on ? client_.setLimiter(*on) : client_.limiter();
    if (!state) {
        return busFailure();
    }
    if (json_) {
        printJson({{QStringLiteral("limiter"), *state}});
    } else {
        out_ << (*state ? "on" : "off") << '\n';
    }
    return kExitDone;
}

int CommandRun::applicationSwitch(
    const QStringList& words, const char* verb,
    const std::function<std::optional<ApplicationState>(const QString& key, bool on)>& set,
    const std::function<const char*(const ApplicationState&)>& describe) {
    std::optional<bool> on;
    if (words.size() > 1) {
        // Checked before the name, so a wrong word changes nothing.
        const QString word = words.at(1).toLower();
        if (word != QLatin1String("on") && word != QLatin1String("off")) {
            return usageError(QStringLiteral("%1 takes on or off, not %2")
                                  .arg(QLatin1String(verb), printable(words.at(1))));
        }
        on = word == QLatin1String("on");
    }
    auto application = resolveApplication(words.at(0));
    if (!application.value) {
        return application.exitCode;
    }
    if (on) {
        application.value = set(application.value->key, *on);
        if (!application.value) {
            return busFailure();
        }
    }
    const auto& result = *application.value;
    if (json_) {
        printJson(applicationJson(result));
    } else {
        out_ << applicationLabel(result) << describe(result);
    }
    return kExitDone;
}

int CommandRun::duck(const QStringList& words) {
    return applicationSwitch(
        words, "duck",
        [this](const QString& key, bool on) { return client_.setLowersOthers(key, on); },
        [](const ApplicationState& result) {
            return result.lowersOthers ? ": lowers the others while it plays\n"
                                       : ": does not lower the others\n";
        });
}

int CommandRun::perOutput(const QStringList& words) {
    return applicationSwitch(
        words, "per-output",
        [this](const QString& key, bool on) { return client_.setLevelPerOutput(key, on); },
        [](const ApplicationState& result) {
            return result.levelPerOutput ? ": a level for each output device\n"
                                         : ": one level on every output device\n";
        });
}

int CommandRun::duckLevel(const QStringList& words) {
    std::optional<double> wanted;
    if (!words.isEmpty()) {
        const auto parsed = parseVolumeText(words.at(0));
        if (!parsed || parsed->relative || parsed->volume < 0.0 || parsed->volume > 1.0) {
            return usageError(QStringLiteral("%1 is not a level; write it from 0% to 100%, "
                                             "as 30% or 30")
                                  .arg(printable(words.at(0))));
        }
        wanted = parsed->volume;
    }
    const auto level = wanted ? client_.setLoweredLevel(*wanted) : client_.loweredLevel();
    if (!level) {
        return busFailure();
    }
    if (json_) {
        printJson({{QStringLiteral("loweredLevel"), *level},
                   {QStringLiteral("percent"), roundedPercent(*level)}});
    } else {
        out_ << formatPercent(*level) << '\n';
    }
    return kExitDone;
}

int CommandRun::shortcuts(const QStringList& words) {
    return applicationSwitch(
        words, "shortcuts",
        [this](const QString& key, bool on) { return client_.setShortcuts(key, on); },
        [](const ApplicationState& result) {
            return result.shortcuts ? ": has keyboard shortcuts of its own\n"
                                    : ": has no keyboard shortcuts of its own\n";
        });
}

int CommandRun::show(const QStringList& /*words*/) {
    return client_.showWindow() ? kExitDone : busFailure();
}

Checked<ApplicationState> CommandRun::resolveApplication(const QString& query) {
    // A key as written wins over every other match. Asked for alone, it spares
    // fetching the whole list, which holds every remembered setting: tens of
    // thousands after long use.
    if (auto exact = client_.getApplication(query)) {
        return {std::move(exact), kExitDone};
    }
    // The instance matches a name by the same rules and sends only what fits. An
    // instance from before FindApplications sends nothing, and so does any
    // failure: the whole list below then decides, and reports a bus failure.
    auto found = client_.findApplications(query);
    if (found && found->size() == 1) {
        return {std::move(found->front())};
    }
    if (found && found->size() > 1) {
        return {std::nullopt, fail(ambiguousApplication(query, *found))};
    }
    const bool installedTried = found.has_value();
    if (installedTried) {
        auto installed = resolveInstalledApplication(query);
        if (installed.value || installed.exitCode != kExitNoMatch) {
            return installed;
        }
    }
    // Nothing fits: the message lists every application, so it needs the whole list.
    const auto applications = client_.listApplications();
    if (!applications) {
        return {std::nullopt, busFailure()};
    }
    std::vector<NameCandidate> candidates;
    for (const auto& application : *applications) {
        candidates.push_back({application.key, application.name});
    }
    const auto match = matchName(query, candidates);
    if (match.kind == NameMatch::Kind::found) {
        return {(*applications)[match.indices.front()]};
    }
    if (match.kind == NameMatch::Kind::ambiguous) {
        std::vector<ApplicationState> fitting;
        for (const auto index : match.indices) {
            fitting.push_back((*applications)[index]);
        }
        return {std::nullopt, fail(ambiguousApplication(query, fitting))};
    }
    if (!installedTried) {
        // An installed application that neither plays nor is remembered can be
        // set before it runs: by its whole desktop file id or name only, so that a
        // short word never picks one of hundreds unseen.
        auto installed = resolveInstalledApplication(query);
        if (installed.value || installed.exitCode != kExitNoMatch) {
            return installed;
        }
    }
    Failure failure;
    failure.exitCode = kExitNoMatch;
    if (applications->empty()) {
        failure.message = QStringLiteral("no application matches %1; none is playing or "
                                         "remembered")
                              .arg(printable(query));
    } else {
        failure.message = QStringLiteral("no application matches %1; the applications are:")
                              .arg(printable(query));
    }
    appendCandidates(failure, *applications);
    return {std::nullopt, fail(failure)};
}

Failure CommandRun::ambiguousApplication(const QString& query,
                                         const std::vector<ApplicationState>& fitting) {
    Failure failure;
    failure.exitCode = kExitAmbiguous;
    failure.message = QStringLiteral("%1 matches more than one application; give more of "
                                     "its name, or its key:")
                          .arg(printable(query));
    appendCandidates(failure, fitting);
    return failure;
}

void CommandRun::appendCandidates(Failure& failure,
                                  const std::vector<ApplicationState>& applications) {
    for (const auto& application : applications) {
        failure.candidates.append(QJsonObject{{QStringLiteral("key"), application.key},
                                              {QStringLiteral("name"), application.name}});
    }
}

// The installed application named by `query`; kExitNoMatch, with nothing
// reported, when none is.
Checked<ApplicationState> CommandRun::resolveInstalledApplication(const QString& query) {
    QString wanted = query;
    if (wanted.endsWith(QLatin1String(".desktop"))) {
        wanted.chop(8);
    }
    const auto installed = client_.listInstalledApplications();
    if (!installed) {
        // An instance from before installed applications could be set.
        return {std::nullopt, kExitNoMatch};
    }
    std::vector<NameCandidate> candidates;
    for (const auto& application : *installed) {
        candidates.push_back({application.key, application.name});
    }
    const auto match = matchName(wanted, candidates, NameMatchScope::whole);
    if (match.kind == NameMatch::Kind::found) {
        return {(*installed)[match.indices.front()]};
    }
    if (match.kind == NameMatch::Kind::none) {
        return {std::nullopt, kExitNoMatch};
    }
    Failure failure;
    failure.exitCode = kExitAmbiguous;
    failure.message =
        QCoreApplication::translate("corvalle::CommandLine",
                                    "%1 names more than one installed application; give its key:")
            .arg(printable(query));
    for (const auto index : match.indices) {
        const auto& application = (*installed)[index];
        failure.candidates.append(QJsonObject{{QStringLiteral("key"), application.key},
                                              {QStringLiteral("name"), application.name}});
    }
    return {std::nullopt, fail(failure)};
}

int CommandRun::printApplication(const ApplicationState& application,
                                 std::optional<double> requested) {
    // The instance clamps as the panel does; say so rather than pretend. A level
    // just beside 100 % that the instance settles on 100 % is not out of range.
    const bool clamped =
        requested && std::isfinite(*requested) && Volume::clamped(*requested) != *requested;
    if (json_) {
        auto object = applicationJson(application);
        if (requested) {
            object.insert(QStringLiteral("clamped"), clamped);
        }
        printJson(object);
    } else {
        out_ << applicationLine(application) << '\n';
        if (clamped) {
            err_ << "corvalle: " << formatPercent(*requested) << " is outside 0% to "
                 << formatPercent(Volume::kMax) << "; set to " << formatPercent(application.volume)
                 << ".\n";
        }
    }
    return kExitDone;
}

int CommandRun::fail(const Failure& failure) {
    if (json_) {
        QJsonObject object{{QStringLiteral("error"), failure.message}};
        if (!failure.candidates.isEmpty()) {
            object.insert(QStringLiteral("candidates"), failure.candidates);
        }
        printJson(object);
        return failure.exitCode;
    }
    err_ << "corvalle: " << failure.message << '\n';
    for (const auto& candidate : failure.candidates) {
        const auto object = candidate.toObject();
        const auto key = object.contains(QStringLiteral("key"))
                             ? object.value(QStringLiteral("key")).toString()
                             : QString::number(object.value(QStringLiteral("id")).toInteger());
        const auto name = printable(object.value(QStringLiteral("name")).toString());
        err_ << "  " << printable(key);
        if (name != key) {
            err_ << "  " << name;
        }
        err_ << '\n';
    }
    return failure.exitCode;
}

int CommandRun::usageError(const QString& message) {
    if (json_) {
        return fail({kExitUsage, message, {}});
    }
    err_ << "corvalle: " << message << "\nTry 'corvalle help'.\n";
    return kExitUsage;
}

int CommandRun::notRunning(const QString& detail) {
    auto message = QStringLiteral("Corvalle is not running.");
    if (!detail.isEmpty()) {
        message += QLatin1Char(' ') + detail;
    }
    if (json_) {
        printJson({{QStringLiteral("error"), message}});
    } else {
        err_ << message << '\n';
    }
    return kExitFailed;
}

int CommandRun::busFailure() {
    const auto& error = client_.error();
    const auto name = error.name();
    qCDebug(lcControl).noquote() << "the mixer answered" << name << error.message();
    if (error.type() == QDBusError::ServiceUnknown ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return notRunning(QString());
    }
    if (error.type() == QDBusError::Disconnected) {
        return notRunning(QStringLiteral("There is no session bus."));
    }
    if (error.type() == QDBusError::UnknownObject) {
        // The name is claimed a moment before the mixer is served.
        return fail({kExitFailed, QStringLiteral("Corvalle is still starting; try again."), {}});
    }
    int exitCode = kExitFailed;
    if (name == QLatin1String(dbus::kErrorUnknownApplication) ||
        name == QLatin1String(dbus::kErrorUnknownOutput)) {
        exitCode = kExitNoMatch;
    } else if (name == QLatin1String(dbus::kErrorInvalidVolume)) {
        exitCode = kExitUsage;
    }
    return fail({exitCode, printable(error.message()), {}});
}

void CommandRun::printJson(const QJsonObject& object) {
    out_ << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
}

} // namespace

bool isCommandLineVerb(const QString& word) {
    return findVerb(word) != nullptr;
}

bool isCommandLineInvocation(const QStringList& arguments) {
    for (const auto& argument : arguments) {
        if (argument == kJsonOption) {
            return true;
        }
        if (!argument.startsWith(QLatin1Char('-'))) {
            return isCommandLineVerb(argument);
        }
    }
    return false;
}

int runCommandLine(const QStringList& arguments, QDBusConnection bus, QTextStream& out,
                   QTextStream& err) {
    CommandRun command(std::move(bus), out, err);
    const int exitCode = command.run(arguments);
    out.flush();
    err.flush();
    return exitCode;
}

int runCommandLine(const QStringList& arguments) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runCommandLine(arguments, QDBusConnection::sessionBus(), out, err);
}

} // namespace corvalle
