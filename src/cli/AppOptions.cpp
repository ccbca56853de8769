#include "AppOptions.h"

#include <cctype>
#include <optional>
#include <stdexcept>

#include "BrokerMeterSource.h"
#include "LocalClock.h"
#include "MeterSource.h"
#include "ModelProfiles.h"
#include "MqttLink.h"
#include "PublishOptions.h"
#include "RecordStore.h"
#include "Scenario.h"

namespace {

bool parsePortMapping(const std::string& text, AppOptions& o, std::string& error) {
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq + 1 >= text.size()) {
        error = "--port needs COMn=PATH, for example --port COM1=/dev/ttyUSB0";
        return false;
    }
    const std::string name = text.substr(0, eq);
    if (name.size() != 4 || name.compare(0, 3, "COM") != 0 || name[3] < '1' || name[3] > '4') {
        error = "--port: unknown port '" + name + "'; use COM1, COM2, COM3 or COM4";
        return false;
    }
    o.portPaths[name[3] - '0'] = text.substr(eq + 1);
    return true;
}

// The variant switch is a coding of the digit frame; a segment-frame model has no use for it.
void variantError(const AppOptions& o, std::string& error) {
    ControlStates controls;
    chooseModel(controls, o.model, o.variant);
    if (chooseProfile(controls).family != FrameFamily::Segment) return;
    std::string model;
    std::string digitModels;
    for (const auto& p : modelProfiles()) {
        if (controls.checked(p.check)) model = p.caption;
        if (p.family != FrameFamily::Digit) continue;
        if (!digitModels.empty()) digitModels += ", ";
        digitModels += p.caption;
    }
    error = "--variant applies to the digit-frame models (" + digitModels + "); " + model +
            " sends segment frames";
}

// A whole decimal number from `low` to `high`, nothing else.
std::optional<int32_t> boundedNumber(const std::string& text, int32_t low, int32_t high) {
    try {
        std::size_t used = 0;
        const long long v = std::stoll(text, &used);
        if (used != text.size() || v < low || v > high || !std::isdigit(static_cast<unsigned char>(text[0])))
            return std::nullopt;
        return static_cast<int32_t>(v);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

OptionsResult parseOptions(const std::vector<std::string>& args) {
    OptionsResult r;
    AppOptions& o = r.options;
    auto needValue = [&](std::size_t& i, const std::string& opt, std::string& value) {
        if (i + 1 >= args.size()) {
            r.error = opt + " needs a value";
            return false;
        }
        value = args[++i];
        return true;
    };

    std::string recordRule;  // the last option given that only --record uses
    PublishOptionsParse publish;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--model") {
            if (!needValue(i, a, value)) return r;
            const auto check = modelCheckByCaption(value);
            if (!check) {
                r.error = "unknown model '" + value + "'; valid models: " + modelCaptionList();
                return r;
            }
            o.model = modelCheckCaption(*check);
        } else if (a == "--variant") {
            o.variant = true;
        } else if (a == "--port") {
            if (!needValue(i, a, value) || !parsePortMapping(value, o, r.error)) return r;
        } else if (a == "--no-settings") {
            o.noSettings = true;
        } else if (a == "--connect") {
            o.connect = true;
        } else if (a == "--demo") {
            o.demo = true;
        } else if (a == "--scenario") {
            if (!needValue(i, a, value)) return r;
            if (!dmmsim::scenarioByName(value)) {
                r.error = "unknown scenario '" + value + "'; valid scenarios: " + dmmsim::scenarioNameList();
                return r;
            }
            o.demoScenario = value;
        } else if (a == "--decode") {
            if (!needValue(i, a, value)) return r;
            o.decodePath = value;
        } else if (a == "--report") {
            if (i + 2 >= args.size()) {
                r.error = "--report needs the PDF to write and the table to read: --report OUT.pdf TABLE";
                return r;
            }
            o.reportPdf = args[++i];
            o.reportTable = args[++i];
        } else if (a == "--recover") {
            if (i + 2 >= args.size()) {
                r.error = "--recover needs the journal to read and the file to write: --recover JOURNAL OUT";
                return r;
            }
            o.recoverJournal = args[++i];
            o.recoverOut = args[++i];
        } else if (a == "--record") {
            if (!needValue(i, a, value)) return r;
            o.recordPath = value;
        } else if (a == "--once") {
            o.once = true;
        } else if (a == "--no-repeat") {
            o.recordRepeat = false;
            recordRule = a;
        } else if (a == "--interval") {
            if (!needValue(i, a, value)) return r;
            o.recordInterval = boundedNumber(value, 0, 86400);
            if (!o.recordInterval) {
                r.error = "--interval needs a number of seconds from 0 to 86400";
                return r;
            }
            recordRule = a;
        } else if (a == "--limit") {
            if (!needValue(i, a, value)) return r;
            const int32_t most = kRecordLimitItems.back().limit;
            const auto limit =
                value == "limitless" ? std::optional<int32_t>(most) : boundedNumber(value, 1, most);
            if (!limit) {
                r.error =
                    "--limit needs a number of rows from 1 to " + std::to_string(most) + ", or limitless";
                return r;
            }
            o.recordLimit = *limit;
            recordRule = a;
        } else if (a == "--start") {
            if (!needValue(i, a, value)) return r;
            const LocalTimeParse start = LocalClock::parseLocalTime(value);
            if (!start.error.empty()) {
                r.error = "--start: " + start.error;
                return r;
            }
            o.recordStart = start.utcMs;
            o.recordStartNote = start.note.empty() ? std::string() : "--start: " + start.note;
            recordRule = a;
        } else if (readRuleOption(args, i, o.rules, r.error)) {
            if (!r.error.empty()) {
                r.showUsage = false;
                return r;
            }
        } else if (readPublishOption(args, i, publish, r.error)) {
            // a bad URL or name is said in one line: the whole usage would bury it
            if (!r.error.empty()) {
                r.showUsage = false;
                return r;
            }
        } else if (readServeOption(args, i, o.serve, r.error)) {
            if (!r.error.empty()) {
                r.showUsage = false;
                return r;
            }
        } else if (a == "--bench") {
            o.bench = true;
        } else if (a == "--meter") {
            if (!needValue(i, a, value)) return r;
            parseMeterChoice(value, r.error);
            if (!r.error.empty()) return r;
            o.meters.push_back(value);
        } else if (a == "--subscribe") {
            if (!needValue(i, a, value)) return r;
            const auto url = parseBrokerUrl(value, r.error);
            if (!url) {
                if (r.error.rfind("--publish", 0) == 0) r.error.replace(0, 9, "--subscribe");
                return r;
            }
            o.subscriptions.push_back(*url);
        } else if (a == "--subscribe-ca") {
            if (!needValue(i, a, value)) return r;
            o.subscribeCa = value;
        } else if (a == "--subscribe-id") {
            if (!needValue(i, a, value)) return r;
            // a client id is UTF-8 without control characters, as a topic is
            const std::string why = value.empty() ? "is empty" : topicNameError(value);
            if (!why.empty()) {
                r.error = "--subscribe-id: the name " + why;
                return r;
            }
            o.subscribeId = value;
        } else if (a == "--math") {
            if (!needValue(i, a, value)) return r;
            const auto eq = value.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 >= value.size()) {
                r.error = "--math takes NAME=EXPRESSION, for example --math \"P=U*I\"";
                return r;
            }
            o.maths.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else if (a == "--save-bytes") {
            if (!needValue(i, a, value)) return r;
            o.saveBytesPath = value;
        } else {
            r.error = "unknown argument '" + a + "'";
            return r;
        }
    }
    if (o.decodePath && (o.demo || o.connect))
        r.error = "--decode cannot be combined with --demo or --connect";
    if (o.reportPdf && (o.demo || o.connect || o.decodePath))
        r.error = "--report cannot be combined with --demo, --connect or --decode";
    if (o.recoverJournal && (o.demo || o.connect || o.decodePath || o.reportPdf || o.saveBytesPath))
        r.error = "--recover cannot be combined with --demo, --connect, --decode, --report or --save-bytes";
    if (o.reportPdf && o.saveBytesPath) {
        r.error = "--save-bytes cannot be combined with --report: it reads no line";
    }
    const bool benchSources = !o.meters.empty() || !o.subscriptions.empty();
    if (o.recordPath && !o.decodePath && !benchSources && !o.bench)
        r.error = "--record needs --decode, --meter or --subscribe: it records the readings of meters";
    if ((o.bench || benchSources) && (o.decodePath || o.demo || o.connect || o.reportPdf || o.recoverJournal))
        r.error =
            "--bench, --meter and --subscribe cannot be combined with --decode, --demo, --connect, --report "
            "or --recover";
    if (!recordRule.empty() && (o.bench || benchSources))
        r.error = recordRule + " applies to --decode; the bench records every reading";
    if (!o.maths.empty() && !o.bench && !benchSources)
        r.error = "--math needs --bench, --meter or --subscribe";
    if (!o.subscribeCa.empty() && o.subscriptions.empty()) r.error = "--subscribe-ca needs --subscribe URL";
    if (!o.subscribeId.empty() && o.subscriptions.empty()) r.error = "--subscribe-id needs --subscribe URL";
    if (!o.subscribeCa.empty() && r.error.empty()) {
        const std::string problem = caFileProblem(o.subscribeCa);
        if (!problem.empty()) {
            r.error = "--subscribe-ca: " + problem;
            r.showUsage = false;
        }
    }
    if (o.once && !o.decodePath)
        r.error = "--once needs --decode: it ends a run at the first loss of the device";
    if (!recordRule.empty() && !o.recordPath) r.error = recordRule + " needs --record FILE";
    if (o.recordPath && o.saveBytesPath && *o.recordPath == *o.saveBytesPath)
        r.error = "--record and --save-bytes name the same file; the table would replace the bytes";
    std::string publishError;
    o.publish = finishPublishOptions(publish, publishError);
    if (!publishError.empty()) {
        r.error = publishError;
        r.showUsage = false;
    }
    if (o.publish && (o.reportPdf || o.recoverJournal))
        r.error = "--publish needs readings: the window or --decode";
    if (o.serve.any() && (o.reportPdf || o.recoverJournal))
        r.error = "--serve and --scpi need readings: the window, --decode or the bench";
    if (r.error.empty()) checkServeOptions(o.serve, r.error);
    if (r.error.empty() && o.variant) variantError(o, r.error);
    if (r.error.empty() && o.rules) {
        // the headless bench's rules name its channels: they are read when it starts
        if (o.decodePath)
            r.error = checkRuleOptions(*o.rules, o.recordPath.has_value());
        else if (!o.benchHeadless())
            r.error =
                "--alarm, --summary and the other rules apply to --decode and the bench without a window";
        else if (!o.rules->recordOnly.empty())
            r.error = o.rules->recordOnly + " applies to --decode; the bench records every reading";
        r.showUsage = false;
    }
    return r;
}

std::string usageText(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "  --model NAME        meter model: " +
           modelCaptionList() +
           " (default KR31E)\n"
           "  --variant           the meter uses the IF7263x variant of the digit frame\n"
           "  --port COMn=PATH    device behind COM1..COM4 (default /dev/ttyS0../dev/ttyS3); repeatable\n"
           "  --no-settings       neither use nor keep the devices and model chosen in the window\n"
           "  --demo              attach a simulated meter to COM1 (press Connect to see readings)\n"
           "  --scenario NAME     what the simulated meter shows (with --demo)\n"
           "  --connect           connect to the selected port at start\n"
           "  --decode PATH       no window: decode a capture file, - for standard input, or a serial\n"
           "                      device, and print one line per reading:\n"
           "                      value, counts, unit, AC/DC, AUTO (tab-separated); a device\n"
           "                      that goes away is waited for and read again when it is back\n"
           "  --once              (with --decode of a device) end at the first loss of the device\n"
           "  --record FILE       with --decode: store the readings as the window's record table\n"
           "                      would and write them to FILE at the end (a Paradox table for\n"
           "                      a name ending in .db, comma-separated values with dates for\n"
           "                      .csv, a spreadsheet workbook for .xlsx, tab-separated text\n"
           "                      otherwise); a capture is timed as the line would have sent it\n"
           "  --no-repeat         (with --record) store repeated readings too\n"
           "  --interval SECONDS  (with --record) store at most one reading per SECONDS\n"
           "  --limit N|limitless (with --record) stop storing after N rows (default 10000)\n"
           "  --start YYYY-MM-DDTHH:MM:SS\n"
           "                      (with --record of a capture) the local date and time the line's\n"
           "                      clock starts from (default: now)\n" +
           ruleUsageText() +
           "  --report OUT.pdf TABLE\n"
           "                      no window: write the printed report of a saved table as a PDF\n"
           "  --recover JOURNAL OUT\n"
           "                      no window: write the readings a journal kept after a run that\n"
           "                      ended without saving (Kr47bdb.journal) to OUT, as Save would\n"
           "  --save-bytes FILE   append every byte received while connected to FILE, as it came\n"
           "                      (window and --decode); replay it with dmmsim --replay FILE\n"
           "  --publish URL       send every reading to an MQTT broker (window and --decode):\n"
           "                      mqtt://[USER@]HOST[:PORT]/PREFIX, or mqtts:// for TLS; the\n"
           "                      password is read from DMMVIEW_MQTT_PASSWORD\n"
           "  --publish-ca FILE   (with mqtts://) the CA that signed the broker's certificate\n"
           "  --publish-id NAME   the client's name in the topics (default: model-device@host)\n"
           "  --publish-every SECONDS\n"
           "                      send at most one reading per SECONDS, the latest\n"
           "  --publish-discovery[=PREFIX]\n"
           "                      also publish the meter's sensor configuration, retained, under\n"
           "                      PREFIX (default homeassistant) for tools that discover sensors\n"
           "  --serve [HOST:]PORT serve a live page, a JSON API with a WebSocket stream and metrics\n"
           "                      for every channel, read-only (default host 127.0.0.1; another\n"
           "                      address needs --serve-token)\n"
           "  --serve-token FILE  the bearer token (first line of FILE) the API asks for\n"
           "  --scpi [HOST:]PORT  answer instrument queries (SCPI) over TCP, 5025 by convention\n"
           "  --bench             open the bench window: several meters, math channels and one\n"
           "                      time line\n"
           "  --meter NAME=MODEL@PATH\n"
           "                      a meter of the bench on a serial device (MODEL as --model takes\n"
           "                      it, MODEL+v for the variant); repeatable\n"
           "  --subscribe URL     the bench shows every meter publishing under mqtt://HOST/PREFIX;\n"
           "                      the password is read from DMMVIEW_MQTT_PASSWORD\n"
           "  --subscribe-ca FILE (with mqtts://) the CA that signed the broker's certificate\n"
           "  --subscribe-id NAME the bench's session name at the broker (default: made from this\n"
           "                      computer, the broker and the recording)\n"
           "  --math NAME=EXPR    a math channel of the bench: + - * / ( ) over channel names and\n"
           "                      numbers, abs(), sqrt(), integral() (in hours); repeatable\n"
           "                      Without --bench, --meter/--subscribe with --record FILE.csv (every\n"
           "                      reading of every channel) or --publish (the math channels) run\n"
           "                      without a window until interrupted\n"
           "  --help              this text\n";
}
