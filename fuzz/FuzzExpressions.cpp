// Math channels as a user or a settings file could give them: lines of NAME=EXPRESSION over the
// meters U, I and [M-1], added to a bench as kept ones are (they may wait for one another), then
// computed from a few readings. Whatever the text, nothing may crash or recurse without bound,
// an expression past the length limit is refused, and no channel reads itself or, through
// others, comes back to itself.
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "BenchExpression.h"
#include "BenchModel.h"
#include "BenchSession.h"
#include "FuzzEntries.h"

namespace {

void fail(const char* rule, const QString& text) {
    std::fprintf(stderr, "fuzz expressions: %s on '%s'\n", rule, text.left(200).toUtf8().constData());
    std::abort();
}

// Whether following the inputs of math channel `id` leads back to `to`.
bool reaches(const BenchModel& model, const std::map<int, std::vector<int>>& reads, int id, int to,
             std::set<int>& seen) {
    const auto it = reads.find(id);
    if (it == reads.end()) return false;
    for (const int input : it->second) {
        if (input == to) return true;
        if (seen.insert(input).second && reaches(model, reads, input, to, seen)) return true;
    }
    return false;
}

}  // namespace

namespace FuzzEntries {

int expressions(const uint8_t* data, std::size_t size) {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "fuzz";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    const auto parsed = BenchExpression::parse(text, [](const QString& n) { return n == "X" ? -1 : 1; });
    if (parsed.expression && text.size() > BenchExpression::kMaxLength) fail("too long, yet taken", text);
    if (!parsed.expression && parsed.error.isEmpty()) fail("refused without a reason", text);

    BenchModel model;
    BenchSession session(model);
    const int u = model.addMeter("U"), i = model.addMeter("I"), m = model.addMeter("M-1");
    BenchSettings settings;
    for (const QString& line : text.split('\n').mid(0, 16)) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) settings.maths.push_back({line.left(eq), line.mid(eq + 1)});
    }
    session.restoreMaths(settings);

    std::map<int, std::vector<int>> reads;
    for (const int id : model.channelIds()) {
        const ChannelInfo* ch = model.channel(id);
        if (ch->kind != ChannelKind::Math) continue;
        if (ch->expression.size() > BenchExpression::kMaxLength)
            fail("too long a math channel", ch->expression);
        std::vector<int>& inputs = reads[id];
        for (const QString& n : BenchExpression::names(ch->expression)) inputs.push_back(model.channelId(n));
    }
    for (const auto& [id, inputs] : reads) {
        std::set<int> seen;
        if (reaches(model, reads, id, id, seen))
            fail("a math channel reads itself", model.channel(id)->expression);
    }
    for (const QString& waiting : session.waitingMaths()) {
        const QString name = waiting.section('=', 0, 0);
        if (BenchExpression::names(waiting.section('=', 1)).contains(name)) fail("waits for itself", waiting);
    }

    for (int k = 0; k < 3; ++k) {
        BenchReading r;
        r.timeMs = 1000 * k;
        r.value = 1.5 - k;
        r.unit = k == 2 ? "A" : "V";
        model.addReading(u, r, r.timeMs);
        model.addReading(m, r, r.timeMs);
        r.unit = "A";
        model.addReading(i, r, r.timeMs);
    }
    return 0;
}

}  // namespace FuzzEntries
