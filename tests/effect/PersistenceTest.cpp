// The LUT, its name and its preset kept in the effect's hidden parameters:
// round trips in one process, a project reopened by a new host process, and
// projects that were damaged on the way.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "EffectTestEnv.h"
#include "host/Host.h"
#include "host/Project.h"

namespace {

using namespace quillane::test;

FxQuillane& quillane(host::EffectInstance* instance) { return static_cast<FxQuillane&>(instance->effect()); }

Lut randomLut(int n, float r0, float r1, unsigned seed) {
    if (n == 0) return Lut();
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-0.25f, 1.25f);
    std::vector<float> nodes(static_cast<std::size_t>(n) * n * n * 4);
    for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = i % 4 == 3 ? 1.0f : value(random);
    return Lut(std::move(nodes), n, r0, r1);
}

std::vector<char> randomBytes(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<char> bytes(length);
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

bool sameNodes(const Lut& a, const Lut& b) {
    if (a.getDimSize() != b.getDimSize()) return false;
    const std::size_t bytes = static_cast<std::size_t>(a.totalSize()) * 16;
    if (bytes == 0) return true;
    return a.getData() && b.getData() && std::memcmp(a.getData(), b.getData(), bytes) == 0;
}

// Chooses a LUT in the instance the way every action ends: state, then saveLut.
void choose(host::EffectInstance* instance, const Lut& lut, const std::string& name, const std::vector<char>& preset) {
    FxQuillane& effect = quillane(instance);
    effect.lut() = lut;
    effect.name() = name;
    effect.preset() = preset;
    effect.saveLut();
}

std::string hex64(std::uint64_t v) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

TEST(Persistence, SaveThenLoadKeepsNodesRangeNameAndPreset) {
    auto h = host::Host::withModule(linkedEffect());
    unsigned seed = 1;
    for (int n : {0, 2, 33, 65}) {
        for (std::size_t presetSize : {0, 1, 2, 3, 10000}) {
            SCOPED_TRACE("N " + std::to_string(n) + ", preset " + std::to_string(presetSize));
            host::EffectInstance* first = h->newInstance();
            ASSERT_NE(first, nullptr);
            const Lut lut = randomLut(n, -0.125f, 1.125f, ++seed);
            const std::vector<char> preset = randomBytes(presetSize, ++seed);
            const std::string name = n ? "/Users/x/My Looks/\xC3\xA9t\xC3\xA9 " + std::to_string(n) + ".cube" : "";
            choose(first, lut, name, preset);
            EXPECT_EQ(first->unbracketedAccesses(), 0);
            EXPECT_EQ(first->openActions(), 0);

            // What the parameters hold (the preset as base64 text in 11).
            EXPECT_EQ(first->parameter(7)->value.dataValue().size(), static_cast<std::size_t>(n) * n * n * 16);
            EXPECT_EQ(first->parameter(8)->value, FxValue::integer(n));
            EXPECT_EQ(first->parameter(12)->value, FxValue::integer(static_cast<std::int64_t>(presetSize)));
            EXPECT_EQ(first->parameter(11)->value.stringValue().size(), (presetSize + 2) / 3 * 4);
            EXPECT_EQ(first->parameter(13)->value, FxValue::string(name));
            EXPECT_EQ(first->parameter(1)->value, FxValue::string(name));

            // A second instance restored from those values alone has the same state.
            std::string error;
            auto second = host::EffectInstance::create(h->module(), host::kAllServices, first->storedValues(), &error);
            ASSERT_TRUE(second) << error;
            const FxQuillane& restored = quillane(second.get());
            for (const FxQuillane* e : {static_cast<const FxQuillane*>(&quillane(first)), &restored}) {
                EXPECT_EQ(e->currentLut().isLoaded(), n > 0);
                EXPECT_TRUE(sameNodes(e->currentLut(), lut));
                if (n > 0) {
                    EXPECT_EQ(e->currentLut().getInputRange0(), -0.125f);
                    EXPECT_EQ(e->currentLut().getInputRange1(), 1.125f);
                }
                EXPECT_EQ(e->currentName(), name);
                EXPECT_EQ(e->currentPreset(), preset);
            }
            h->closeAll();
        }
    }
}

// A LUT whose range the hidden parameters cannot hold would be dropped by
// the restore after the save: it is not taken, and the action fails.
TEST(Persistence, ALutTheParametersCannotKeepIsNotTakenAndTheActionFails) {
    auto h = host::Host::withModule(linkedEffect());
    host::EffectInstance* instance = h->newInstance();
    ASSERT_NE(instance, nullptr);
    const Lut current = randomLut(2, 0.0f, 1.0f, 7);
    choose(instance, current, "/looks/current.cube", {'p'});
    FxQuillane& effect = quillane(instance);
    const float inf = INFINITY;
    struct Case {
        float r0, r1;
        int n;
        std::string says;  // empty: taken
    } cases[] = {
        {0.0f, inf, 2, "its input range, 0 to inf, is not two different finite numbers"},
        {NAN, 1.0f, 2, "its input range, nan to 1, is not"},
        {-inf, 1.0f, 2, "its input range, -inf to 1, is not"},
        {0.5f, 0.5f, 2, "its input range, 0.5 to 0.5, is not"},
        {0.0f, 1.0f, 0, "it holds no nodes"},
        {1.0f, -0.5f, 3, ""},  // reversed: applied as it stands
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const Lut offered = randomLut(c.n, c.r0, c.r1, 9);
        EXPECT_EQ(effect.takeLut(offered, {'x'}, "/looks/offered.cube"), c.says.empty());
        const bool taken = c.says.empty();
        EXPECT_TRUE(sameNodes(effect.currentLut(), taken ? offered : current));
        EXPECT_EQ(effect.currentName(), taken ? "/looks/offered.cube" : "/looks/current.cube");
        EXPECT_EQ(effect.currentPreset(), std::vector<char>{taken ? 'x' : 'p'});
        if (taken) {
            EXPECT_EQ(effect.currentLut().getInputRange0(), 1.0f);
            EXPECT_EQ(effect.currentLut().getInputRange1(), -0.5f);
        } else {
            EXPECT_EQ(effect.actionFailure().rfind("Cannot take the LUT /looks/offered.cube: " + c.says, 0), 0u)
                << effect.actionFailure();
        }
    }
}

TEST(Persistence, ALutWithoutPresetAfterOneWithPresetClearsIt) {
    auto h = host::Host::withModule(linkedEffect());
    host::EffectInstance* instance = h->newInstance();
    choose(instance, randomLut(2, 0.0f, 1.0f, 3), "a.cube", randomBytes(10, 4));
    EXPECT_EQ(quillane(instance).currentPreset().size(), 10u);
    choose(instance, randomLut(2, 0.0f, 0.5f, 5), "b.cube", {});
    EXPECT_EQ(instance->parameter(11)->value, FxValue::string(""));
    EXPECT_EQ(instance->parameter(12)->value, FxValue::integer(0));
    EXPECT_TRUE(quillane(instance).currentPreset().empty());
    EXPECT_EQ(quillane(instance).currentLut().getInputRange1(), 0.5f);
    // Clearing the LUT: parameter 1 shows the empty name until the host reports it.
    choose(instance, Lut(), "", {});
    EXPECT_FALSE(quillane(instance).currentLut().isLoaded());
    EXPECT_EQ(instance->parameter(1)->value, FxValue::string(""));
    instance->notifyParameterChanged(1);
    EXPECT_EQ(instance->parameter(1)->value, FxValue::string("No LUT loaded"));
}

TEST(Persistence, ANewHostProcessReopensTheProjectExactly) {
    auto h = host::Host::withModule(linkedEffect());
    struct Case {
        int n;
        std::size_t preset;
        std::string name;
    };
    const std::vector<Case> cases = {{33, 10000, "/looks/teal orange.cube"}, {65, 3, "Quillane warm"}, {0, 0, ""}};
    for (const Case& c : cases) {
        host::EffectInstance* instance = h->newInstance();
        ASSERT_NE(instance, nullptr);
        choose(instance, randomLut(c.n, 0.0f, 0.75f, 100 + c.n), c.name, randomBytes(c.preset, 200 + c.n));
    }
    const std::string first = effectTestFolder().file("first.qhp");
    const std::string second = effectTestFolder().file("second.qhp");
    std::string error;
    ASSERT_TRUE(h->saveProject(first, &error)) << error;

    // Each instance, opened by another process, restores the same LUT, name and preset.
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("instance " + std::to_string(i));
        const auto run = runProcess(kHostProgram + " open " + first + " select " + std::to_string(i) +
                                                    " state save " + second);
        ASSERT_EQ(run.status, 0) << run.out;
        const FxQuillane& original = quillane(h->instance(i));
        const Lut& lut = original.currentLut();
        auto lines = keyedLines(run.out);
        EXPECT_EQ(lines["name"], "\"" + cases[i].name + "\"");
        EXPECT_EQ(lines["loaded"], cases[i].n ? "1" : "0");
        EXPECT_EQ(lines["dimSize"], std::to_string(cases[i].n));
        EXPECT_EQ(lines["range"], host::hexFloatFromDouble(lut.getInputRange0()) + " " +
                                      host::hexFloatFromDouble(lut.getInputRange1()));
        EXPECT_EQ(lines["nodes"], hex64(fnv1a(lut.getData(), lut.getData() ? lut.totalSize() * 16 : 0)));
        const auto& preset = original.currentPreset();
        EXPECT_EQ(lines["preset"], std::to_string(preset.size()) + " " +
                                       hex64(fnv1a(preset.data(), preset.size())));
    }
    // The project it saved again is the very same file, byte for byte.
    EXPECT_EQ(readFile(second), readFile(first));
}

template <typename To, typename From>
To bitCast(From from) {
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}
double doubleFromBits(std::uint64_t bits) { return bitCast<double>(bits); }
std::uint64_t bitsOf(double d) { return bitCast<std::uint64_t>(d); }

// Doubles whose bits a text form loses easily: NaNs with payloads (quiet and
// signalling, either sign), zeros, subnormals, the ends of the range.
const std::uint64_t kOddDoubles[] = {
    0x7ff8000000000000, 0xfff8000000000000, 0x7ff8000000000005, 0xfff8000000000005, 0x7fffffffffffffff,
    0x7ff0000000000001, 0xfff4000000000000, 0x7ff7ffffffffffff, 0x0000000000000000, 0x8000000000000000,
    0x0000000000000001, 0x800fffffffffffff, 0x0010000000000000, 0x7fefffffffffffff, 0x7ff0000000000000,
    0xfff0000000000000, 0x3fe8000000000000};

TEST(Persistence, DoubleTextKeepsEveryBitAndRefusesWhatItCannotKeep) {
    for (std::uint64_t bits : kOddDoubles) {
        const std::string text = host::hexFloatFromDouble(doubleFromBits(bits));
        double back = 0.0;
        ASSERT_TRUE(host::doubleFromHexFloat(text, &back)) << text;
        EXPECT_EQ(bitsOf(back), bits) << text;
    }
    struct Case {
        const char* text;
        std::uint64_t bits;
    };
    // What files may say, written by us, by the earlier writer or by hand.
    const Case read[] = {{"nan(0x5)", 0x7ff8000000000005}, {"-nan", 0xfff8000000000000},
                         {"NaN(5)", 0x7ff8000000000005},   {"snan(0x1)", 0x7ff0000000000001},
                         {"nan(0x7ffffffffffff)", 0x7fffffffffffffff}, {"-inf", 0xfff0000000000000},
                         {"0x1.8p-1", 0x3fe8000000000000}, {"-0x0p+0", 0x8000000000000000},
                         {"0.75", 0x3fe8000000000000},     {"+0x1p+0", 0x3ff0000000000000}};
    for (const Case& c : read) {
        double value = 0.0;
        ASSERT_TRUE(host::doubleFromHexFloat(c.text, &value)) << c.text;
        EXPECT_EQ(bitsOf(value), c.bits) << c.text;
    }
    EXPECT_EQ(host::hexFloatFromDouble(doubleFromBits(0x7ff8000000000005)), "nan(0x5)");
    EXPECT_EQ(host::hexFloatFromDouble(doubleFromBits(0xfff0000000000001)), "-snan(0x1)");
    EXPECT_EQ(host::hexFloatFromDouble(0.75), "0x1.8p-1");
    // A payload that does not fit, a signalling NaN without one, and numbers
    // that would not read back as written are refused, not cut or rounded away.
    for (const char* text : {"nan(0x8000000000000)", "snan(0)", "nan()", "nan(abc)", "nan(0x5", "1e400", "0x1p+1024",
                             "1e-400", " 0.5", "0.5 ", "--1", "-+1", "0x-1p0", "0x", "", "0,5", "0x1,8p-1"}) {
        double value = 42.0;
        EXPECT_FALSE(host::doubleFromHexFloat(text, &value)) << '"' << text << '"';
        EXPECT_EQ(value, 42.0) << text;
    }
}

TEST(Persistence, ProjectValuesKeepTheirExactBytes) {
    // A name that is not UTF-8, a negative zero, NaN payloads and a data block survive a project as they were
    // (damaged hex and numbers: DamagedProjectsRestoreTheEmptyLutWithoutCrashing).
    const std::string path = effectTestFolder().file("bytes.qhp");
    const std::string oddName("a\xFF\xFE\x00z", 5);
    std::vector<host::StoredValue> values = {
        {13, FxValue::string(oddName)}, {9, FxValue::number(-0.0)}, {7, FxValue::data({0, 0xFF, 0x7F, 0xA0})}};
    for (std::uint64_t bits : kOddDoubles) values.push_back({10, FxValue::number(doubleFromBits(bits))});
    std::string error;
    ASSERT_TRUE(host::writeProjectFile(path, {values}, &error));
    std::vector<std::vector<host::StoredValue>> back;
    ASSERT_TRUE(host::readProjectFile(path, &back, &error)) << error;
    ASSERT_EQ(back.size(), 1u);
    ASSERT_EQ(back[0].size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(back[0][i].value, values[i].value) << i;
}

// A project file of one instance whose parameter entries are given as JSON text.
std::string writeProject(const std::string& file, const std::string& parameters) {
    const std::string path = effectTestFolder().file(file);
    std::ofstream(path) << R"({"format": "quillane-host-project", "version": 1, "instances": [{"parameters": [)"
                        << parameters << "]}]}";
    return path;
}

TEST(Persistence, DamagedProjectsRestoreTheEmptyLutWithoutCrashing) {
    auto h = host::Host::load(kEffectModulePath, nullptr);
    ASSERT_TRUE(h);
    const std::string fewBytes = R"({"id": 7, "type": "data", "hex": "0000803f"})";  // one float: 1.0
    // Node data of 15 bytes and of 16 (one whole node) for size 1.
    const std::string nodes15 = R"({"id": 7, "type": "data", "hex": ")" + std::string(30, '0') + R"("})";
    const std::string nodes16 = R"({"id": 7, "type": "data", "hex": ")" + std::string(32, '0') + R"("})";
    struct Case {
        const char* what;
        std::string parameters;
        int dimSize;   // what the restored LUT has
        bool damaged;  // said on standard error
    };
    const std::vector<Case> cases = {
        {"size 100000", fewBytes + R"(, {"id": 8, "type": "integer", "value": 100000})", 0, true},
        {"size -1", fewBytes + R"(, {"id": 8, "type": "integer", "value": -1})", 0, true},
        {"size 2^40", fewBytes + R"(, {"id": 8, "type": "integer", "value": 1099511627776})", 0, true},
        {"size 257", fewBytes + R"(, {"id": 8, "type": "integer", "value": 257})", 0, true},
        {"size as a huge double", fewBytes + R"(, {"id": 8, "type": "double", "value": "0x1p+70"})", 0, true},
        {"size as text", fewBytes + R"(, {"id": 8, "type": "string", "value": "33"})", 0, false},
        // Fewer node bytes than the size needs: no LUT, and no N^3 nodes made for it.
        {"size 256 over one node", fewBytes + R"(, {"id": 8, "type": "integer", "value": 256})", 0, true},
        {"nodes short", fewBytes + R"(, {"id": 8, "type": "integer", "value": 33})", 0, true},
        {"nodes one byte short", nodes15 + R"(, {"id": 8, "type": "integer", "value": 1})", 0, true},
        {"nodes just enough", nodes16 + R"(, {"id": 8, "type": "integer", "value": 1})", 1, false},
        // A range of two equal ends maps every colour to one place; without nodes it does no harm.
        {"range of equal ends", nodes16 + R"(, {"id": 8, "type": "integer", "value": 1}, {"id": 9, "type": "double",
             "value": 0.5}, {"id": 10, "type": "double", "value": 0.5})", 0, true},
        {"range of equal ends, no LUT", R"({"id": 9, "type": "double", "value": 0}, {"id": 10, "type": "double",
             "value": 0})", 0, false},
        {"nodes as text", R"({"id": 7, "type": "string", "value": "AAAA"}, {"id": 8, "type": "integer", "value": 2})",
         0, true},
        {"nodes too long", R"({"id": 7, "type": "data", "hex": ")" + std::string(2 * 16 * 9, 'f') +
                               R"("}, {"id": 8, "type": "integer", "value": 2})", 2, false},
        {"preset size without text", R"({"id": 12, "type": "integer", "value": 999999999})", 0, false},
        {"unknown ids", R"({"id": 4000000000, "type": "integer", "value": 5}, {"id": 0, "type": "none"})", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = writeProject("damaged.qhp", c.parameters);
        std::string error;
        testing::internal::CaptureStderr();
        const bool opened = h->openProject(path, &error);
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(opened) << error;
        EXPECT_EQ(said.find("Quillane: the project's LUT is damaged") != std::string::npos, c.damaged) << said;
        ASSERT_EQ(h->instances().size(), 1u);
        const FxQuillaneInspection* state = h->instance(0)->inspection();
        const Lut& lut = state->currentLut();
        EXPECT_EQ(lut.getDimSize(), c.dimSize);
        EXPECT_EQ(lut.isLoaded(), c.dimSize > 0);
        const float* nodes = lut.getData();
        ASSERT_TRUE(c.dimSize == 0 || nodes);
        const std::size_t last = c.dimSize > 0 ? static_cast<std::size_t>(lut.totalSize() - 1) * 4 : 0;
        // "nodes too long" is all 0xff bytes, of which the first nodes are taken.
        if (c.dimSize > 0) {
            EXPECT_EQ(std::isnan(nodes[last]), c.dimSize == 2);
        }
        EXPECT_TRUE(state->currentPreset().empty());
    }

    // Files that are no project at all, and projects with an entry that cannot
    // be read (which a save would write back without it), are refused whole and
    // leave the open instances as they were.
    std::string error;
    ASSERT_TRUE(h->openProject(writeProject("kept.qhp", nodes16 + R"(, {"id": 8, "type": "integer", "value": 1})"),
                               &error)) << error;
    ASSERT_TRUE(h->newInstance());
    const std::string nodes = R"({"id": 7, "type": "data", "hex": ")" + std::string(32, '0') + R"("},
                                 {"id": 8, "type": "integer", "value": 1}, )";
    const std::string project = R"({"format": "quillane-host-project", "instances": )";
    struct Refused {
        std::string text;
        const char* says;  // empty: any reason
    } refused[] = {
        {"", ""}, {"{", ""}, {"[1, 2]", ""}, {R"({"format": "other", "instances": []})", ""},
        {project + "{}}", ""},
        {project + "[{}]}", "instance 0: it has no list of parameters"},
        {project + R"([{"parameters": []}, {"parameters": {}}]})", "instance 1: it has no list of parameters"},
        // Entries that cannot be read (once accepted and left out).
        {project + R"([{"parameters": [)" + nodes + R"({"id": 8}]}]})", "parameter entry 2 (id 8) cannot be read: it has no type"},
        {project + R"([{"parameters": [)" + nodes + R"({"type": "integer"}]}]})", "entry 2 cannot be read: it has no parameter id"},
        {project + R"([{"parameters": [)" + nodes + R"({"id": -3, "type": "integer", "value": 1}]}]})", "no parameter id"},
        {project + R"([{"parameters": [)" + nodes + R"({"id": 7, "type": "data", "hex": "xyz"}]}]})", "odd number"},
        {project + R"([{"parameters": [)" + nodes + R"(17]}]})", "entry 2 cannot be read: it is not an object"},
        {project + R"([{"parameters": [)" + nodes + R"(null]}]})", "it is not an object"},
        {project + R"([{"parameters": [)" + nodes + R"({"id": 8, "type": "integer", "value": 2}]}]})",
         "instance 0: parameter entries 1 and 2 are both for id 8"},
        // A range no float holds would restore no LUT without a word.
        {project + R"([{"parameters": [)" + nodes + R"({"id": 9, "type": "double", "value": "nan"}]}]})",
         "parameter entry 2 (id 9, a bound of the LUT's input range) cannot be read: its value is not a finite number"},
        {project + R"([{"parameters": [)" + nodes + R"({"id": 10, "type": "double", "value": "0x1p+200"}]}]})",
         "parameter entry 2 (id 10, a bound of the LUT's input range) cannot be read: its value is out of range"},
    };
    for (const Refused& r : refused) {
        const std::string path = effectTestFolder().file("broken.qhp");
        std::ofstream(path) << r.text;
        std::string error;
        EXPECT_FALSE(h->openProject(path, &error)) << r.text;
        EXPECT_NE(error.find(r.says), std::string::npos) << error;
        EXPECT_FALSE(error.empty());
        ASSERT_EQ(h->instances().size(), 2u);
        EXPECT_EQ(h->instance(0)->inspection()->currentLut().getDimSize(), 1);
    }

    // Values for parameters the effect does not declare are kept for the next save.
    const std::string unknown = R"({"id": 4000000000, "type": "string", "value": "later"})";
    const std::string kept = writeProject("unknown.qhp", nodes + unknown);
    ASSERT_TRUE(h->openProject(kept, &error)) << error;
    ASSERT_TRUE(h->saveProject(kept, &error)) << error;
    ASSERT_TRUE(h->openProject(kept, &error)) << error;
    const std::vector<host::StoredValue> values = h->instance(0)->storedValues();
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back().id, 4000000000u);
    EXPECT_EQ(values.back().value, FxValue::string("later"));
    EXPECT_EQ(h->instance(0)->inspection()->currentLut().getDimSize(), 1);

    // The host process itself survives a hostile project.
    const std::string hostile = writeProject("hostile.qhp", R"({"id": 8, "type": "integer", "value": -2147483648},
        {"id": 7, "type": "data", "hex": "00"}, {"id": 12, "type": "integer", "value": 3},
        {"id": 11, "type": "string", "value": "QUJD\n"})");
    const auto run = runProcess(kHostProgram + " open " + hostile + " state 2>&1");
    EXPECT_EQ(run.status, 0) << run.out;
    auto lines = keyedLines(run.out);
    EXPECT_EQ(lines["dimSize"], "0");
    EXPECT_EQ(lines["loaded"], "0");
    EXPECT_EQ(lines["preset"].substr(0, 2), "3 ");  // "ABC", up to the line break
}

}  // namespace
