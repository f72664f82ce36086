#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TempDir.h"
#include "lut/Lut.h"
#include "lut/LocalLutPath.h"
#include "lut/LutFile.h"
#include "lut/reference/PlainLut.h"

namespace {

using quillane::test::TempDir;

std::string write(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

Lut read(int type, const std::string& path, std::string* preset, bool skip) {
    std::string ignored;
    return Lut().loadFromFile(path, preset ? *preset : ignored, skip, type);
}
Lut cube(const std::string& path, std::string* preset = nullptr, bool skip = false) {
    return read(0, path, preset, skip);
}
Lut threeDl(const std::string& path, std::string* preset = nullptr, bool skip = false) {
    return read(1, path, preset, skip);
}

// Same record, bit for bit (NaN payloads included).
void expectSame(const Lut& a, const Lut& b, const std::string& what) {
    ASSERT_EQ(a.getDimSize(), b.getDimSize()) << what;
    EXPECT_TRUE(a.isLoaded() == b.isLoaded() && a.getFilePath() == b.getFilePath()) << what;
    const float ra[2] = {a.getInputRange0(), a.getInputRange1()}, rb[2] = {b.getInputRange0(), b.getInputRange1()};
    EXPECT_EQ(0, std::memcmp(ra, rb, sizeof ra)) << what;
    if (a.getDimSize() > 0) {
        ASSERT_EQ(0, std::memcmp(a.getData(), b.getData(), 16 * std::size_t(a.totalSize()))) << what;
    }
}

// Data lines of a .cube with n nodes per axis, every value distinct.
std::string cubeData(int n) {
    std::string t;
    for (int k = 0; k < n * n * n; ++k)
        t += std::to_string(k / 100.0) + " " + std::to_string(k / 50.0) + " " + std::to_string(-k / 10.0) + "\n";
    return t;
}

// `count` copies of a line.
std::string lines(int count, const std::string& line) {
    std::string t;
    for (int k = 0; k < count; ++k) t += line;
    return t;
}

// A complete 10-bit .3dl with 6 nodes per axis, then whatever follows.
std::string full3dl(const std::string& tail) {
    std::string t = "0 64 128 256 512 1023\n";
    for (int k = 0; k < 216; ++k) t += std::to_string(k * 4) + " " + std::to_string(k) + " 1023\n";
    return t + tail;
}

TEST(LutFiles, CubeBasicsAndHeaders) {
    TempDir dir;
    std::string preset = "keep";
    Lut lut = cube(write(dir, "a.cube",
                         "TITLE \"x\"\r\nDOMAIN_MIN 0 0 0\r\nLUT_3D_SIZE 2\r\nLUT_3D_INPUT_RANGE -0.125 1.125\r\n"
                         "0 0 0\r\n1 0 0\r\n0 1 0\r\n1 1 0\r\n0 0 1\r\n1 0 1\r\n0 1 1\r\n1 1e-3 1\r\n"),
                   &preset);
    ASSERT_EQ(lut.getDimSize(), 2);
    EXPECT_TRUE(lut.getInputRange0() == -0.125f && lut.getInputRange1() == 1.125f);
    EXPECT_EQ(lut.getFilePath(), dir.file("a.cube"));
    EXPECT_EQ(lut.getIndexedColor(0, 0, 1).r, 1.0f);  // second line: red index 1
    EXPECT_EQ(lut.getIndexedColor(1, 1, 1).g, 1e-3f);
    EXPECT_EQ(preset, "");  // assigned even when there is no preset

    // "33\r", "33 " and a run of blanks before the number are all taken.
    EXPECT_EQ(cube(write(dir, "b.cube", "LUT_3D_SIZE 2\r\n" + cubeData(2))).getDimSize(), 2);
    EXPECT_EQ(cube(write(dir, "c.cube", "LUT_3D_SIZE 2 \n" + cubeData(2))).getDimSize(), 2);
    EXPECT_EQ(cube(write(dir, "d.cube", "LUT_3D_SIZE  2\n" + cubeData(2))).getDimSize(), 2);
    // No size at all: empty, whatever data follows. A later size wins, even after the data.
    EXPECT_FALSE(cube(write(dir, "e.cube", "0 0 0\n1 1 1\n")).isLoaded());
    Lut late = cube(write(dir, "f.cube", "LUT_3D_SIZE 5\n0.5 0.5 0.5\nLUT_3D_SIZE 1\n"));
    ASSERT_EQ(late.getDimSize(), 1);
    EXPECT_EQ(late.getData()[0], 0.5f);
    // A short file is refused (the cases of ShortFilesAreRefusedWithTheirCount).
    EXPECT_FALSE(cube(write(dir, "g.cube", "LUT_3D_SIZE 2\n0.5 0.5 0.5\n")).isLoaded());
    // A path in double quotes is opened and stored without them.
    EXPECT_EQ(cube("\"" + dir.file("a.cube") + "\"").getFilePath(), dir.file("a.cube"));
    EXPECT_FALSE(cube(dir.file("missing.cube"), &preset).isLoaded());
    EXPECT_FALSE(Lut().loadFromFile(dir.file("a.cube"), preset, false, 2).isLoaded());
}

TEST(LutFiles, CubeDataLineRules) {
    TempDir dir;
    // Skipped: comment, two or four values, a hexadecimal float, a word.
    // Read: blanks and tabs around and between, signs, exponents of either case.
    Lut lut = cube(write(dir, "a.cube",
                         "LUT_3D_SIZE 1\n#1 1 1\n0.1 0.1\n0.1 0.1 0.1 0.1\n0x1 0 0\ninf 0 0\n"
                         " 2E-1\t0.25  +1e+1 \r\n"));
    ASSERT_TRUE(lut.isLoaded());
    EXPECT_EQ(lut.getData()[0], 0.2f);
    EXPECT_EQ(lut.getData()[1], 0.25f);
    EXPECT_EQ(lut.getData()[2], 10.0f);
}

// Each way other tools spell a file, .cube and .3dl alike: a row either
// gives exactly the nodes and range of the plainly written file, or is
// refused with the reason it must give.
// A decimal-comma LC_NUMERIC (as a toolkit sets from a German environment)
// while it lives; "C" again after.
class CommaDecimalNumbers {
public:
    explicit CommaDecimalNumbers(const TempDir& dir) {
        const std::string made = "localedef -i de_DE -f UTF-8 '" + dir.file("de_DE.UTF-8") + "' 2>&1";
        EXPECT_EQ(0, std::system(made.c_str())) << "localedef (package locales) makes the comma locale";
        ::setenv("LOCPATH", dir.path().c_str(), 1);
        const bool set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        EXPECT_TRUE(set && std::string(std::localeconv()->decimal_point) == ",");
    }
    ~CommaDecimalNumbers() {
        std::setlocale(LC_NUMERIC, "C");
        ::unsetenv("LOCPATH");
    }
};

TEST(LutFiles, SpellingsReadAsThePlainFileOrAreRefusedWithTheirReason) {
    TempDir dir, localeDir;
    // The plain .cube: 2 nodes per axis over -0.125 .. 1.125.
    const char* values[8][3] = {{"0", "0", "0.125"},   {"0.75", "0", "0.125"},   {"0", "0.5", "0.125"},
                                {"0.75", "0.5", "0.125"}, {"0", "0", "1"},         {"0.75", "0", "1"},
                                {"0", "0.5", "1"},     {"0.75", "0.5", "1"}};
    // The data lines with each value written by `format` (its %s the value,
    // or a printf float form), parted by gap, led by lead, ended by tail.
    const auto data = [&](const std::string& gap, const std::string& lead = "", const std::string& tail = "\n",
                          const char* format = nullptr) {
        std::string t;
        for (const auto& line : values) {
            t += lead;
            for (int c = 0; c < 3; ++c) {
                char text[32] = {};
                if (format) std::snprintf(text, sizeof text, format, std::atof(line[c]));
                t += (c ? gap : "") + std::string(format ? text : line[c]);
            }
            t += tail;
        }
        return t;
    };
    const std::string size = "LUT_3D_SIZE 2\n", range = "LUT_3D_INPUT_RANGE -0.125 1.125\n";
    const std::string mesh6 = "0 64 128 256 512 1023";
    const auto threeDlData = [](const std::string& gap, const std::string& lead, const std::string& tail) {
        std::string t;
        for (int k = 0; k < 216; ++k)
            t += lead + std::to_string(k * 4) + gap + std::to_string(k) + gap + "1023" + tail;
        return t;
    };
    std::string mesh1024;
    for (int k = 0; k < 1024; ++k) mesh1024 += std::to_string(k) + " ";
    using R = LutRefusal;
    struct Row {
        const char* what;
        std::string name, text;
        R why = R::None;
        float lo = -0.125f, hi = 1.125f;  // the range a file read must give
        long long notDataLine = 0;         // for a short file: the line it must name
        bool commaLocale = false;          // read with a decimal-comma LC_NUMERIC
    };
    const std::vector<Row> rows = {
        {"the plain .cube", "c", size + range + data(" ")},
        {"size after two blanks", "c", "LUT_3D_SIZE  2\n" + range + data(" ")},
        {"size after a tab, keywords in lower case", "c", "lut_3d_size\t2\nlut_3d_input_range -0.125 1.125\n" + data(" ")},
        {"range after two blanks", "c", size + "LUT_3D_INPUT_RANGE  -0.125  1.125\n" + data(" ")},
        {"range after a tab, CRLF", "c", "LUT_3D_SIZE 2\r\nLUT_3D_INPUT_RANGE\t-0.125\t1.125\r\n" + data(" ", "", "\r\n")},
        {"domains in mixed case", "c", size + "Domain_Min -0.125 -0.125 -0.125\ndomain_max 1.125 1.125 1.125\n" + data(" ")},
        {"data parted by tabs", "c", size + range + data("\t")},
        {"data parted by two blanks", "c", size + range + data("  ")},
        {"data with a leading blank and a trailing tab", "c", size + range + data(" ", " ", "\t\n")},
        {"data with trailing blanks and CR", "c", size + range + data(" ", "\t ", "  \r\n")},
        {"signed exponents", "c", size + range + data(" ", "", "\n", "%.6e")},
        {"upper-case exponents and plus signs", "c", size + range + data(" ", "", "\n", "%+.3E")},
        {"a reversed range stays", "c", size + "LUT_3D_INPUT_RANGE 1.125 -0.125\n" + data(" "), R::None, 1.125f, -0.125f},
        {"the range above float", "c", size + "LUT_3D_INPUT_RANGE 0 1e39\n" + data(" "), R::UnusableRange},
        {"an infinite range", "c", size + "LUT_3D_INPUT_RANGE 0 inf\n" + data(" "), R::UnusableRange},
        {"a range from nan", "c", size + "LUT_3D_INPUT_RANGE nan 1\n" + data(" "), R::UnusableRange},
        {"a domain above double", "c", size + "DOMAIN_MAX 1e999 1e999 1e999\n" + data(" "), R::UnusableRange},
        {"a range of equal ends", "c", size + "LUT_3D_INPUT_RANGE 0.5 0.5\n" + data(" "), R::UnusableRange},
        {"a 1D range without a 1D part", "c", size + "LUT_1D_INPUT_RANGE 0 1\n" + data(" "), R::OneDimensionalRange},
        {"a data line of four values", "c", size + range + "0 0 0.125\n0 0 0 0\n", R::ShortOfDataLines, 0, 0, 4},
        {"a decimal comma", "c", size + range + "#\n0 0 0,125\n", R::ShortOfDataLines, 0, 0, 4},
        {"a line of words within the data", "c", size + range + "0 0 0.125\nx y z\n", R::ShortOfDataLines, 0, 0, 4},
        {"a word within the data", "c", size + range + "0 0 0.125\nfoo\n", R::ShortOfDataLines, 0, 0, 4},
        {"a size again within the data", "c", size + range + "0 0 0.125\nLUT_3D_SIZE 2\n", R::ShortOfDataLines, 0, 0, 4},
        {"a vertical tab before data", "c", size + range + "0 0 0.125\n\v0 0 0.125\n", R::ShortOfDataLines, 0, 0, 4},
        {"a word before the data, a comment within", "c", size + range + "foo\n0 0 0.125\n  # c\n", R::ShortOfDataLines},
        {"a data value beyond float", "c", size + range + "1e39 0 0\n", R::ShortOfDataLines, 0, 0, 3},
        {"a hexadecimal range end", "c", size + "LUT_3D_INPUT_RANGE 0 0x1p1\n" + data(" "), R::UnreadableRange},
        {"a range end with letters after it", "c", size + "LUT_3D_INPUT_RANGE 0 2abc\n" + data(" "), R::UnreadableRange},
        {"a byte-order mark", "c", "\xEF\xBB\xBF" + size + range + data(" ")},
        {"a comment after the range", "c", size + "LUT_3D_INPUT_RANGE -0.125 1.125 # scene\n" + data(" ")},
        {"a range of one value", "c", size + "LUT_3D_INPUT_RANGE 2\n" + data(" "), R::UnreadableRange},
        {"points, exponents and long values under a decimal-comma locale", "c",
         size + "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1.5 1.5 1.5\n" + range + data(" ", "", "\n", "%.8e"), R::None, -0.125f,
         1.125f, 0, true},
        {"the plain .3dl", "3", mesh6 + "\n" + threeDlData(" ", "", "\n"), R::None, 0, 1},
        {".3dl parted by tabs", "3", "3DMESH\nmesh 6 10\n0\t64\t128\t256\t512\t1023\n" + threeDlData("\t", "", "\n"),
         R::None, 0, 1},
        {".3dl with blanks around, CRLF", "3", "  " + mesh6 + " \r\n" + threeDlData("  ", " ", " \r\n"), R::None, 0, 1},
        {".3dl with a word line of six", "3", "made by a tool of six words\n" + mesh6 + "\n" + threeDlData(" ", "", "\n"),
         R::None, 0, 1},
        {".3dl with a line of two values", "3", mesh6 + "\n0 0 1023\n4 1\n", R::ShortOfDataLines, 0, 0, 3},
        {".3dl with a word within the data", "3", mesh6 + "\n0 0 1023\nfoo\n", R::ShortOfDataLines, 0, 0, 3},
        {".3dl with a byte-order mark", "3", "\xEF\xBB\xBF" + mesh6 + "\n" + threeDlData(" ", "", "\n"), R::None, 0, 1},
        {"a mesh line of 1024 over 33^3 lines", "3", mesh1024 + "\n" + lines(33 * 33 * 33, "0 512 1023\n"),
         R::MeshAboveLimit},
    };
    std::string preset;
    const Lut plainCube = cube(write(dir, "plain.cube", rows[0].text));
    const Lut plain3dl = threeDl(write(dir, "plain.3dl", full3dl("")));
    ASSERT_TRUE(plainCube.isLoaded() && plain3dl.isLoaded());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const bool isCube = row.name == "c";
        const std::string path = write(dir, isCube ? "spelled.cube" : "spelled.3dl", row.text);
        std::optional<CommaDecimalNumbers> comma;
        if (row.commaLocale) comma.emplace(localeDir);
        const Lut lut = isCube ? cube(path) : threeDl(path);
        const LutFileRefusal refusal = lutFileRefusal(path);
        comma.reset();  // the plain reader below reads in the "C" locale
        EXPECT_EQ(refusal.why, row.why);
        if (isCube) expectSame(lut, quillane::plain::loadCube(path, preset, false), row.what);
        EXPECT_EQ(refusal.notData.line, row.notDataLine);
        if (row.why == R::MeshAboveLimit) {
            EXPECT_TRUE(refusal.dimSize == 1024 && refusal.dataLines == 35937);
        }
        if (row.why != R::None) {
            EXPECT_FALSE(lut.isLoaded());
            continue;
        }
        const Lut& same = isCube ? plainCube : plain3dl;
        ASSERT_EQ(lut.getDimSize(), same.getDimSize());
        EXPECT_EQ(0, std::memcmp(lut.getData(), same.getData(), 16 * std::size_t(same.totalSize())));
        EXPECT_TRUE(lut.getInputRange0() == row.lo && lut.getInputRange1() == row.hi);
    }
}

TEST(LutFiles, CubeHostileHeaders) {
    TempDir dir;
    // 4*812^3 floats would be 8.5 GB: anything above 256 nodes is refused whole.
    for (const char* size : {"812", "257", "2000000000", "99999999999", "-3", "0", "abc", "", "0x10"}) {
        std::string preset = "keep";
        const std::string path = write(dir, "h.cube", std::string("LUT_3D_SIZE ") + size + "\n0 0 0\n");
        EXPECT_FALSE(cube(path, &preset).isLoaded()) << size;
        EXPECT_FALSE(quillane::plain::loadCube(path, preset, false).isLoaded()) << size;
    }
    // A size without a number refuses the file and leaves the preset alone.
    std::string preset = "keep";
    EXPECT_FALSE(cube(write(dir, "i.cube", "#64BLOB\n#QUJD\nLUT_3D_SIZE x1\n"), &preset).isLoaded());
    EXPECT_EQ(preset, "keep");
    // A range the effect cannot apply refuses the file.
    const std::string odd = write(dir, "j.cube", "LUT_3D_INPUT_RANGE 1e400 nan\nLUT_3D_SIZE 1\n1 1 1\n");
    EXPECT_FALSE(cube(odd).isLoaded());
    EXPECT_EQ(lutFileRefusal(odd).why, LutRefusal::UnusableRange);
    // Binary junk with embedded zero bytes.
    const char raw[] = "LUT_3D_SIZE 2\0\xff\n\0\0\0\n1 1\0 1\n";
    const std::string junk = std::string(raw, sizeof raw - 1) + cubeData(2);
    EXPECT_EQ(cube(write(dir, "k.cube", junk)).getDimSize(), 2);
}

TEST(LutFiles, ACubeWithA1DPartIsRefusedAndTheReasonCanBeAsked) {
    TempDir dir;
    const std::string nodes = "0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
    using R = LutRefusal;
    struct Case {
        const char* what;
        std::string text;
        bool refused;
        R why;  // asked of the file afterwards
    };
    const std::vector<Case> cases = {
        {"1D part before the 3D part", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\nLUT_3D_SIZE 2\n" + nodes, true,
         R::OneDimensionalPart},
        {"1D size after the data, CRLF", "LUT_3D_SIZE 2\r\n" + nodes + "LUT_1D_SIZE 1024\r\n", true,
         R::OneDimensionalPart},
        {"1D size in a comment", "# LUT_1D_SIZE 2\nLUT_3D_SIZE 2\n" + nodes, false, R::None},
        {"1D range without a 1D part", "LUT_1D_INPUT_RANGE 0 1\nLUT_3D_SIZE 2\n" + nodes, true,
         R::OneDimensionalRange},
        {"refused for another reason", "LUT_3D_SIZE x\n" + nodes, true, R::BadSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write(dir, "one.cube", c.text);
        std::string fast = "keep", plain = "keep";
        const Lut lut = cube(path, &fast);
        EXPECT_EQ(lut.isLoaded(), !c.refused);
        expectSame(lut, quillane::plain::loadCube(path, plain, false), c.what);
        EXPECT_EQ(fast, c.refused ? "keep" : "");
        EXPECT_EQ(plain, fast);
        EXPECT_EQ(lutFileRefusal("\"" + path + "\"").why, c.why);
    }
    // Only a .cube can hold a 1D part.
    EXPECT_EQ(lutFileRefusal(write(dir, "one.3dl", "LUT_1D_SIZE 2\n")).why, R::NoMeshLine);
    const LutFileRefusal missing = lutFileRefusal(dir.file("missing.cube"));
    EXPECT_EQ(missing.why, R::Unread);
    EXPECT_EQ(missing.file.problem, FileReadProblem::NoSuchFile);
}

// A file cut short is refused, whatever line it stops at, and the reason
// counts the data lines it holds; more data lines than the size needs are
// read up to the last node.
TEST(LutFiles, ShortFilesAreRefusedWithTheirCount) {
    TempDir dir;
    std::string mesh17;
    for (int k = 0; k < 17; ++k) mesh17 += std::to_string(k * 64) + (k < 16 ? " " : "\n");
    struct Case {
        const char* name;
        std::string text;
        long long dataLines;  // -1: loaded
    };
    const std::vector<Case> cases = {
        {"none.cube", "LUT_3D_SIZE 3\n", 0},
        {"one.cube", "LUT_3D_SIZE 3\n0 0 0\n", 1},
        {"crlf.cube", "LUT_3D_SIZE 3\r\n" + lines(26, "0.5 0.5 0.5\r\n"), 26},
        {"preset.cube", "LUT_3D_SIZE 3\n" + lines(20, "0 0 0\n") + "#64BLOB\n#QUJD\n", 20},
        {"full.cube", "LUT_3D_SIZE 3\n" + lines(27, "0 0 0\n"), -1},
        {"long.cube", "LUT_3D_SIZE 3\n" + lines(27, "0 0 0\n") + "5 5 5\n", -1},
        {"369.3dl", "3DMESH\nMesh 4 10\n" + mesh17 + lines(369, "0 512 1023\n"), 369},
        {"mesh-only.3dl", mesh17, 0},
        {"full.3dl", mesh17 + lines(4913, "0 512 1023\n"), -1},
        {"long.3dl", mesh17 + lines(4914, "0 512 1023\n"), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(dir, c.name, c.text);
        const bool threeDlFile = ends_with(path, ".3dl");
        std::string preset = "keep";
        const Lut lut = threeDlFile ? threeDl(path, &preset) : cube(path, &preset);
        const LutFileRefusal refusal = lutFileRefusal(path);
        if (c.dataLines < 0) {
            ASSERT_TRUE(lut.isLoaded());
            EXPECT_EQ(refusal.why, LutRefusal::None);
            EXPECT_EQ(lut.getData()[4 * std::size_t(lut.totalSize()) - 3], threeDlFile ? 512 / 1023.0f : 0.0f);
            continue;
        }
        EXPECT_FALSE(lut.isLoaded());
        EXPECT_EQ(preset, "keep");  // refused as a whole
        EXPECT_EQ(refusal.why, LutRefusal::ShortOfDataLines);
        EXPECT_EQ(refusal.dataLines, c.dataLines);
        EXPECT_EQ(refusal.dimSize, threeDlFile ? 17 : 3);
        if (!threeDlFile) {
            std::string plain = "keep";
            expectSame(lut, quillane::plain::loadCube(path, plain, false), c.name);
            EXPECT_EQ(plain, "keep");
        }
    }
}

// DOMAIN_MIN and DOMAIN_MAX are the input range when their three channels
// agree, each setting its bound; the later of them and LUT_3D_INPUT_RANGE
// wins. Each header is read before the same 2-node identity.
TEST(LutFiles, DomainsAreTheInputRangeWhenTheirChannelsAgree) {
    TempDir dir;
    const std::string nodes = "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
    struct Case {
        const char* what;
        std::string header;
        LutRefusal why;
        float lo, hi;
    };
    const LutRefusal ok = LutRefusal::None;
    const std::vector<Case> cases = {
        {"no domain", "", ok, 0.0f, 1.0f},
        {"the default domain", "DOMAIN_MIN 0.0 0.0 0.0\nDOMAIN_MAX 1.0 1.0 1.0\n", ok, 0.0f, 1.0f},
        {"0 to 0.1", "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 0.1 0.1 0.1\n", ok, 0.0f, 0.1f},
        {"the range 0 to 0.1", "LUT_3D_INPUT_RANGE 0 0.1\n", ok, 0.0f, 0.1f},
        {"-0.25 to 1.25, CRLF", "DOMAIN_MIN -0.25 -0.25 -0.25\r\nDOMAIN_MAX 1.25 1.25 1.25\r\n", ok, -0.25f, 1.25f},
        {"tabs, runs of blanks, a comment", "DOMAIN_MIN\t-1  -1\t-1 # low\nDOMAIN_MAX 2 2 2 \n", ok, -1.0f, 2.0f},
        {"a domain after the range", "LUT_3D_INPUT_RANGE 0 2\nDOMAIN_MAX 4 4 4\n", ok, 0.0f, 4.0f},
        {"the range after a domain", "DOMAIN_MAX 4 4 4\nLUT_3D_INPUT_RANGE 0 2\n", ok, 0.0f, 2.0f},
        {"a later domain line", "DOMAIN_MIN 1 2 3\nDOMAIN_MIN 0.5 0.5 0.5\n", ok, 0.5f, 1.0f},
        {"per channel, then the range", "DOMAIN_MAX 1 2 1\nLUT_3D_INPUT_RANGE 0 3\n", ok, 0.0f, 3.0f},
        {"a longer keyword", "DOMAIN_MINIMUM 5 5 5\n", ok, 0.0f, 1.0f},
        {"per-channel maximum", "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 2 1\n", LutRefusal::PerChannelDomain, 0, 0},
        {"per-channel minimum", "DOMAIN_MIN 0 0.1 0\n", LutRefusal::PerChannelDomain, 0, 0},
        {"the range, then per channel", "LUT_3D_INPUT_RANGE 0 3\nDOMAIN_MIN 0 0 -1\n", LutRefusal::PerChannelDomain, 0,
         0},
        {"two numbers", "DOMAIN_MIN 0 0\n", LutRefusal::UnreadableRange, 0, 0},
        {"not a number", "DOMAIN_MAX 1 1 one\n", LutRefusal::UnreadableRange, 0, 0},
    };
    const std::string plainPath = write(dir, "plain.cube", nodes);
    const Lut plainLut = cube(plainPath);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write(dir, "d.cube", c.header + nodes);
        std::string fastPreset = "keep", plainPreset = "keep";
        const Lut lut = cube(path, &fastPreset);
        expectSame(lut, quillane::plain::loadCube(path, plainPreset, false), c.what);
        EXPECT_EQ(fastPreset, plainPreset);
        EXPECT_EQ(lutFileRefusal(path).why, c.why);
        if (c.why != ok) {
            EXPECT_FALSE(lut.isLoaded());
            continue;
        }
        // The same range LUT_3D_INPUT_RANGE with the same numbers gives, bit
        // for bit, and the same nodes as without a domain.
        EXPECT_EQ(lut.getInputRange0(), c.lo);
        EXPECT_EQ(lut.getInputRange1(), c.hi);
        ASSERT_EQ(lut.getDimSize(), 2);
        EXPECT_EQ(0, std::memcmp(lut.getData(), plainLut.getData(), 8 * 16));
    }
}

// What the user is told about each kind of file that gives no LUT: the
// reader's reason, on a line of its own after the file's name.
TEST(LutFiles, RefusalsSayWhy) {
    TempDir dir;
    std::string mesh300;
    for (int k = 0; k < 300; ++k) mesh300 += "1 ";
    struct Case {
        const char* name;
        std::string text;  // "" for no file
        std::string why;   // the reason line; "" for a file that gives a LUT
    };
    const std::vector<Case> cases = {
        {"gone.cube", "", "No such file."},
        {"no-size.cube", "PK\x03\x04 this is no LUT\n", "Its layout is unknown: it declares no size (a line \"LUT_3D_SIZE N\")."},
        {"size-0.cube", "LUT_3D_SIZE 0\n", "Its LUT_3D_SIZE gives no size of 1 or more."},
        {"size-x.cube", "LUT_3D_SIZE x\n", "Its LUT_3D_SIZE gives no size of 1 or more."},
        {"size-300.cube", "LUT_3D_SIZE 300\n", "Its size of 300 nodes per axis is above the 256 the effect reads."},
        {"short.cube", "LUT_3D_SIZE 2\n0 0 0\n", "It holds 1 of the 8 data lines its size of 2 nodes per axis needs."},
        {"domain.cube", "DOMAIN_MIN 0\n", "It has a DOMAIN_MIN line without three numbers."},
        {"range-hex.cube", "LUT_3D_SIZE 1\nLUT_3D_INPUT_RANGE 0 0x1p1\n0 0 0\n",
         "It has a LUT_3D_INPUT_RANGE line without two numbers."},
        {"no-mesh.3dl", "3DMESH\nMesh 4 10\n", "Its layout is unknown: it has no mesh line (the node positions a .3dl "
                                                 "file begins with)."},
        {"mesh-300.3dl", mesh300 + "\n", "It holds a mesh line of 300 positions and 0 data lines; a mesh line gives "
                                          "the nodes per axis, and the effect reads at most 256."},
        {"range-inf.cube", "LUT_3D_INPUT_RANGE 0 1e39\nLUT_3D_SIZE 1\n0 0 0\n",
         "Its input range, 0 to inf, has an end that is not a finite number (a float reaches about 3.4e38)."},
        {"range-equal.cube", "LUT_3D_SIZE 1\nDOMAIN_MIN .5 .5 .5\nDOMAIN_MAX 0.5 0.5 0.5\n0 0 0\n",
         "Its input range, 0.5 to 0.5, has two equal ends and spans no colours."},
        {"range-1d.cube", "LUT_1D_INPUT_RANGE 0 1\nLUT_3D_SIZE 1\n0 0 0\n",
         "It has a LUT_1D_INPUT_RANGE, the range of a 1D part, which the effect cannot apply."},
        {"short-line.cube", "LUT_3D_SIZE 2\n" + lines(6, "0 0 0\n") + "1 1\n1 1 1\n",
         "It holds 7 of the 8 data lines its size of 2 nodes per axis needs; line 8 is not read as data: it holds 2 "
         "values, not three."},
        {"comma.cube", "LUT_3D_SIZE 1\n0 0,5 1\n",
         "It holds 0 of the 1 data lines its size of 1 nodes per axis needs; line 2 is not read as data: its second "
         "value, \"0,5\", is not a number."},
        {"nan.cube", "LUT_3D_SIZE 1\n# c\nNaN 0 0\n",
         "It holds 0 of the 1 data lines its size of 1 nodes per axis needs; line 3 is not read as data: its first "
         "value, \"NaN\", is not a number."},
        {"long.cube", "LUT_3D_SIZE 1\n0 0 0.5\x1b[2J" + std::string(50, 'x') + "\n",
         "It holds 0 of the 1 data lines its size of 1 nodes per axis needs; line 2 is not read as data: its third "
         "value, \"0.5\\u001b[2J" + std::string(33, 'x') + "\"..., is not a number."},
        {"one-value.cube", "LUT_3D_SIZE 1\n0.5\n",
         "It holds 0 of the 1 data lines its size of 1 nodes per axis needs; line 2 is not read as data: it holds 1 "
         "value, not three."},
        {"beyond-float.cube", "LUT_3D_SIZE 1\n1e39 0 0\n",
         "It holds 0 of the 1 data lines its size of 1 nodes per axis needs; line 2 is not read as data: its first "
         "value, \"1e39\", is beyond a float's range (a float reaches about 3.4e38)."},
        {"words.cube", "LUT_3D_SIZE 2\n0 0 0\nx y z\n",
         "It holds 1 of the 8 data lines its size of 2 nodes per axis needs; line 3 is not read as data: it holds "
         "\"x y z\", not three numbers."},
        {"long-words.cube", "LUT_3D_SIZE 2\n0 0 0\n\v" + std::string(50, 'x') + "\n",
         "It holds 1 of the 8 data lines its size of 2 nodes per axis needs; line 3 is not read as data: it holds "
         "\"\\u000b" + std::string(39, 'x') + "\"..., not three numbers."},
        {"good.cube", "LUT_3D_SIZE 1\n0 0 0\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.text.empty() ? dir.file(c.name) : write(dir, c.name, c.text);
        EXPECT_EQ(unreadableLutText(path), "Cannot read a LUT from the file " + path + (c.why.empty() ? "" : "\n") + c.why);
    }
    {
        TempDir localeDir;
        const CommaDecimalNumbers comma(localeDir);
        EXPECT_EQ(lutRefusalReason(write(dir, "range-comma.cube", "LUT_3D_SIZE 1\nLUT_3D_INPUT_RANGE 0.5 0.5\n0 0 0\n")),
                  "its input range, 0.5 to 0.5, has two equal ends and spans no colours");
    }
    std::filesystem::create_directory(dir.file("folder.cube"));
    EXPECT_EQ(lutRefusalReason(dir.file("folder.cube")), "it is a folder, not a file");
    ASSERT_EQ(::mkfifo(dir.file("pipe.3dl").c_str(), 0600), 0);
    EXPECT_EQ(lutRefusalReason(dir.file("pipe.3dl")), "it is not a regular file");
    // Larger than any LUT file: refused before a byte is read (a sparse file).
    const std::string huge = write(dir, "huge.cube", "LUT_3D_SIZE 2\n");
    std::filesystem::resize_file(huge, (std::uintmax_t(1) << 30) + 1);
    EXPECT_EQ(lutRefusalReason(huge), "it is larger than any LUT file");
}

TEST(LutFiles, OnlyRegularFilesAreRead) {
    TempDir dir;
    std::string preset = "kept";
    // A folder or a pipe named like a LUT: empty Lut, no throw, no block.
    std::filesystem::create_directory(dir.file("folder.cube"));
    EXPECT_FALSE(cube(dir.file("folder.cube"), &preset).isLoaded());
    ASSERT_EQ(::mkfifo(dir.file("pipe.3dl").c_str(), 0600), 0);
    EXPECT_FALSE(threeDl(dir.file("pipe.3dl"), &preset).isLoaded());
    EXPECT_EQ(preset, "kept");
}

TEST(LutFiles, CubePresetText) {
    TempDir dir;
    // Preset lines before the data: data lines join the text and still fill the nodes.
    const std::string text = "LUT_3D_SIZE 1\n#64BLOB\n#QUJD\r\n\nRUZH\n0.5 0.25 1\n";
    const std::string path = write(dir, "p.cube", text);
    std::string preset;
    Lut lut = cube(path, &preset);
    EXPECT_EQ(preset, "QUJD\rRUZH0.5 0.25 1");
    ASSERT_TRUE(lut.isLoaded());
    EXPECT_EQ(lut.getData()[1], 0.25f);

    // Skipping: the text is untouched and sizes after the marker are not seen.
    preset = "keep";
    std::string eight;
    for (int k = 0; k < 8; ++k) eight += "0.5 0.5 0.5\n";
    lut = cube(write(dir, "q.cube", "LUT_3D_SIZE 1\n#64BLOB\n#QUJD\nLUT_3D_SIZE 2\n" + eight), &preset, true);
    EXPECT_EQ(preset, "keep");
    EXPECT_EQ(lut.getDimSize(), 1);
    EXPECT_EQ(lut.getData()[0], 0.5f);
    lut = cube(dir.file("q.cube"), &preset, false);
    EXPECT_EQ(lut.getDimSize(), 2);
    eight.erase(std::remove(eight.begin(), eight.end(), '\n'), eight.end());
    EXPECT_EQ(preset, "QUJDLUT_3D_SIZE 2" + eight);
}

// The one-pass reader against the two-pass getline + strtof reader on
// random files made of valid, odd and hostile lines.
TEST(LutFiles, CubeOnePassEqualsTwoPassReader) {
    TempDir dir;
    const std::vector<std::string> tokens = {
        "0",  "1",     "0.5",  "-0.25", "-0",    ".5",     "1.",      "0.123456789", "16777217", "16777216",
        "1e", "1e-3",  "2e5",  "1e99",  "1e-50", "1e-40",  "-",       ".",           "1-2",      "--1",
        "e5", "0.1e1", "1ee2", "3.4028235e38",   "123456789012345678901234567890", "0.0000000001234",
        "7e-46", "00000000000000000000001", "1.5e-", "1.2.3", "1E-3", "+0.5", "1.000000e+00", "-2.5E+1",
        "inf", "nan", "0x1p0", "1,5", "1e-400", "-1e400", "0.000001e-300", "+-1"};
    const std::vector<std::string> headers = {
        "LUT_3D_SIZE 2", "LUT_3D_SIZE 3",  "LUT_3D_SIZE 1\r", "LUT_3D_INPUT_RANGE -0.1 1.2", "#64BLOB",
        "#QUJD",         "TITLE \"t\"",    "",                "\r",                          "# c",
        "LUT_1D_SIZE 4", "LUT_3D_SIZE 2 ", "LUT_3D_INPUT_RANGE 0 2\r", "DOMAIN_MIN 0 0 0", "DOMAIN_MAX 2\t2  2\r",
        "DOMAIN_MAX 1 2 1", "DOMAIN_MIN -0.1 -0.1", "lut_3d_size 2", "LUT_3D_SIZE\t3", "Domain_Max 2 2 2",
        "LUT_3D_INPUT_RANGE  0\t2", "LUT_3D_INPUT_RANGE 0 inf"};
    std::mt19937 rng(1234);
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int lines = 1 + static_cast<int>(pick(60));
        for (int l = 0; l < lines; ++l) {
            if (pick(4) == 0) {
                text += headers[pick(headers.size())];
            } else {
                const int count = pick(8) == 0 ? 2 + static_cast<int>(pick(3)) : 3;
                for (int t = 0; t < count; ++t) {
                    const char* gaps[] = {"  ", "\t", " \t"};
                    if (t) text += pick(8) == 0 ? gaps[pick(3)] : " ";
                    if (!t && pick(12) == 0) text += " ";
                    text += pick(3) == 0 ? tokens[pick(tokens.size())] : std::to_string(pick(1000) / 999.0);
                }
                if (pick(6) == 0) text += "\r";
            }
            if (l + 1 < lines || pick(2)) text += "\n";
        }
        const std::string path = write(dir, "r.cube", text);
        for (bool skip : {false, true}) {
            std::string fastPreset = "x", plainPreset = "x";
            Lut fast = cube(path, &fastPreset, skip);
            Lut plain = quillane::plain::loadCube(path, plainPreset, skip);
            expectSame(fast, plain, text);
            EXPECT_EQ(fastPreset, plainPreset) << text;
        }
    }
}

TEST(LutFiles, TruncationSweep) {
    TempDir dir;
    const std::string cubeText =
        "TITLE x\nLUT_3D_SIZE 3\nLUT_3D_INPUT_RANGE 0 1\n" + cubeData(3) + "#64BLOB\n#QUJD\n#RUZH\n";
    const std::string threeText = full3dl("#64BLOB\n#QUJD\n");
    for (std::size_t len = 0; len <= cubeText.size(); ++len) {
        const std::string path = write(dir, "t.cube", cubeText.substr(0, len));
        std::string a, b;
        expectSame(cube(path, &a), quillane::plain::loadCube(path, b, false), std::to_string(len));
        EXPECT_EQ(a, b);
    }
    // Loaded once the last data line ("860 215 1023") holds its third value;
    // from the mesh line's sixth value on until then, refused for want of
    // data lines.
    const std::size_t lastLineEnd = full3dl("").size() - std::string("023\n").size();
    for (std::size_t len = 0; len <= threeText.size(); ++len) {
        std::string preset;
        const std::string path = write(dir, "t.3dl", threeText.substr(0, len));
        Lut lut = threeDl(path, &preset);
        EXPECT_EQ(lut.getDimSize(), len >= lastLineEnd ? 6 : 0) << len;
        const LutRefusal why = len >= lastLineEnd ? LutRefusal::None
                               : len >= 18        ? LutRefusal::ShortOfDataLines
                                                  : LutRefusal::NoMeshLine;
        LutFileRefusal refusal;
        std::string ignored;
        parse3dlText(threeText.substr(0, len), path, ignored, false, &refusal);
        EXPECT_EQ(refusal.why, why) << len;
    }
}

TEST(LutFiles, ThreeDl) {
    TempDir dir;
    // 17 mesh values give N = 17; values up to 1023 are 10-bit.
    std::string mesh;
    for (int k = 0; k < 17; ++k) mesh += std::to_string(k * 64) + (k < 16 ? " " : "\n");
    std::string text = "# header\n3DMESH\nMesh 4 10\n" + mesh;
    for (int k = 0; k < 17 * 17 * 17; ++k) text += std::to_string(k % 1024) + " 0 1023\n";
    Lut ten = threeDl(write(dir, "a.3dl", text));
    ASSERT_EQ(ten.getDimSize(), 17);
    // The file runs blue fastest: line 1 is blue index 1, at float offset 4*N^2.
    EXPECT_EQ(ten.getData()[4 * 17 * 17], 1 / 1023.0f);
    EXPECT_EQ(ten.getData()[2], 1.0f);

    // Carriage-return pieces do not count; a short line is no mesh; more than 256 refused.
    EXPECT_EQ(threeDl(write(dir, "c.3dl", "0 1 2\n0 1 2 3 4 \r\n")).getDimSize(), 0);
    EXPECT_EQ(threeDl(write(dir, "d.3dl", "0 1 2 3 4 5\r\n" + lines(216, "1 1 1\r\n"))).getDimSize(), 6);
    std::string huge;
    for (int k = 0; k < 300; ++k) huge += "1 ";
    std::string preset = "keep";
    EXPECT_FALSE(threeDl(write(dir, "e.3dl", huge + "\n"), &preset).isLoaded());
    EXPECT_EQ(preset, "keep");

    // Preset after the data; with skipping the text stays untouched.
    const std::string withPreset = write(dir, "f.3dl", full3dl("#64BLOB\n#QUJD\n"));
    Lut lut = threeDl(withPreset, &preset);
    EXPECT_EQ(preset, "QUJD");
    EXPECT_EQ(lut.getIndexedColor(0, 0, 1).r, 4 * 36 / 1023.0f);  // red index 1 is line 36
    preset = "keep";
    threeDl(withPreset, &preset, true);
    EXPECT_EQ(preset, "keep");
    // Until the last node is read, a marker line is just passed over.
    lut = threeDl(write(dir, "g.3dl", "0 1 2 3 4 5 6\n#64BLOB\n#QUJD\n" + lines(343, "1 1 1\n")), &preset);
    EXPECT_EQ(preset, "");
    EXPECT_EQ(lut.getData()[0], 1 / 1023.0f);
    const std::string before = write(dir, "h.3dl", "#64BLOB\n#QUJD\n0 1 2 3 4 5\n" + lines(216, "1 2 3\n"));
    lut = threeDl(before, &preset);
    EXPECT_EQ(preset, "QUJD" + lines(216, "1 2 3"));
    EXPECT_EQ(lut.getDimSize(), 6);
}

// Right-aligned columns and the three bit depths: the first data line is
// `first`, every other one "0 0 0", each line led by `lead` with its values
// parted by `gap` (the mesh line too).
TEST(LutFiles, ThreeDlLayoutsAndBitDepths) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string lead, gap;
        std::vector<int> first;
        float scale;
    };
    const std::vector<Case> cases = {
        {"10-bit", "", " ", {1023, 512, 0}, 1023.0f},
        {"right-aligned", "   ", " ", {1023, 512, 0}, 1023.0f},
        {"right-aligned, runs of blanks", "  ", "   ", {1023, 512, 0}, 1023.0f},
        {"12-bit", "", " ", {1024, 2048, 4095}, 4095.0f},
        {"16-bit just above 12-bit", "", " ", {4096, 0, 1}, 65535.0f},
        {"16-bit right-aligned", "      ", "  ", {65535, 1023, 4095}, 65535.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto line = [&](const std::vector<int>& values) {
            std::string t = c.lead;
            for (std::size_t i = 0; i < values.size(); ++i) t += (i ? c.gap : "") + std::to_string(values[i]);
            return t + "\r\n";
        };
        std::string text = "3DMESH\r\nMesh 3 10\r\n" + line({0, 64, 128, 256, 512, 1023});
        text += line(c.first);
        for (int k = 1; k < 216; ++k) text += line({0, 0, k == 215 ? 2 : 0});
        const Lut lut = threeDl(write(dir, "l.3dl", text));
        ASSERT_EQ(lut.getDimSize(), 6);
        const ColorLut node = lut.getIndexedColor(0, 0, 0);
        EXPECT_EQ(node.r, c.first[0] / c.scale);
        EXPECT_EQ(node.g, c.first[1] / c.scale);
        EXPECT_EQ(node.b, c.first[2] / c.scale);
        EXPECT_EQ(lut.getIndexedColor(5, 5, 5).b, 2 / c.scale);  // the last line was read too
    }
}

TEST(LutFiles, LutFromFileDecodesPreset) {
    TempDir dir;
    const std::string c = write(dir, "look.cube", "LUT_3D_SIZE 1\n1 0 0\n#64BLOB\n#QUJD\n#RA==\n");
    const std::string t = write(dir, "LOOK.3DL", full3dl("#64BLOB\n#QUJD\n"));
    std::string path = c;
    Lut lut;
    std::vector<char> preset = {'z'};
    lutFromFile(&path, &lut, &preset);
    EXPECT_EQ(lut.getDimSize(), 1);
    EXPECT_EQ(std::string(preset.begin(), preset.end()), "ABCD");
    path = t;
    lutFromFile(&path, &lut, &preset);
    EXPECT_EQ(lut.getDimSize(), 6);
    EXPECT_EQ(lut.getData()[2], 1.0f);
    EXPECT_EQ(std::string(preset.begin(), preset.end()), "ABC");
    // CRLF line ends must not garble the preset.
    path = write(dir, "crlf.cube", "LUT_3D_SIZE 1\r\n1 0 0\r\n#64BLOB\r\n#QUJD\r\n#RA==\r\n");
    lutFromFile(&path, &lut, &preset);
    EXPECT_EQ(std::string(preset.begin(), preset.end()), "ABCD");
    path = dir.file("none.cube");
    lutFromFile(&path, &lut, &preset);
    EXPECT_FALSE(lut.isLoaded());
    EXPECT_TRUE(preset.empty());
    lutFromFile(nullptr, &lut, &preset);  // no crash
}

TEST(LutFiles, Base64AndStringHelpers) {
    auto str = [](const std::vector<char>& v) { return std::string(v.begin(), v.end()); };
    // URL-safe letters read as '+' and '/', unmapped ones as 63; an incomplete last group gives what it can.
    const std::pair<std::string, std::string> decoded[] = {
        {"QUJDRA==", "ABCD"}, {"QUJDREU=", "ABCDE"}, {"-_-_", "\xfb\xff\xbf"}, {"*\x80~!", "\xff\xff\xff"},
        {"QUJ", "AB"},         {"QQ", "A"},          {"Q", ""},                  {"", ""}};
    for (const auto& [in, out] : decoded) EXPECT_EQ(str(decodeBase64(in)), out) << in;

    EXPECT_TRUE(ends_with("/a/LOOK.3DL", ".3dl") && ends_with("x", ""));
    EXPECT_FALSE(ends_with("3dl", ".3dl") || ends_with("a.cube", ".3dl"));
    // A LUT file by its suffix in any case; a listing offers names that hold one, in lower case.
    EXPECT_TRUE(hasLutFileSuffix("/a/LOOK.CUBE") && hasLutFileSuffix("x.3Dl") && holdsLutFileName("x.cube.bak") &&
                holdsLutFileName("X.CUBE.BAK"));
    EXPECT_FALSE(hasLutFileSuffix("x.cube.bak") || hasLutFileSuffix("cube") || holdsLutFileName("cube"));

    using V = std::vector<std::string>;
    EXPECT_EQ(split("a  b", ' '), (V{"a", "", "b"}));
    EXPECT_EQ(split(" a ", ' '), (V{"", "a"}));
    EXPECT_EQ(split("", ' '), V{});
    EXPECT_EQ(split(",", ','), V{""});

    std::string s = "\"a\"b\"c-d";
    removeCharsFromString(s, "\"-");
    removeCharsFromString(s, "");
    removeCharsFromString(s, nullptr);
    EXPECT_EQ(s, "abcd");
}

}  // namespace
