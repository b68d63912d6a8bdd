// The measurement program, run briefly: every mode produces its table with a
// row per family and kind, real codes are found through the whole chain, and
// speech is skipped with a message when its synthesiser is missing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string BinaryDir() {
    const char* dir = std::getenv("TAVIK_BINARY_DIR");
    return dir != nullptr && *dir != '\0' ? dir : TAVIK_BINARY_DIR;
}
std::string Program() { return BinaryDir() + "/tools/tavik-measure/tavikmeasure"; }
std::string Scratch() { return BinaryDir() + "/tests/tools/measure-" + std::to_string(getpid()); }

struct ToolRun {
    int status = -1;
    std::string out, err;
};

ToolRun RunProgram(const std::string& args, const std::string& env = "") {
    std::system(("mkdir -p '" + Scratch() + "'").c_str());
    const std::string out = Scratch() + "/out", err = Scratch() + "/err";
    const int raw = std::system((env + " '" + Program() + "' " + args + " > '" + out + "' 2> '" +
                                 err + "'")
                                    .c_str());
    auto read = [](const std::string& p) {
        std::ifstream in(p);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    ToolRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read(out), read(err)};
    std::system(("rm -rf '" + Scratch() + "'").c_str());
    return r;
}

// The table rows "| FAMILY | KIND | cells... |" of the section after `heading`.
std::vector<std::vector<std::string>> Rows(const std::string& out, const std::string& heading) {
    std::vector<std::vector<std::string>> rows;
    const size_t at = out.find(heading);
    if (at == std::string::npos) return rows;
    std::istringstream in(out.substr(at + heading.size()));
    std::string line;
    while (std::getline(in, line) && line.rfind("###", 0) != 0) {
        if (line.rfind("| TESK", 0) != 0 && line.rfind("| ZELT", 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream ss(line.substr(1));
        std::string cell;
        while (std::getline(ss, cell, '|')) {
            cell.erase(0, cell.find_first_not_of(' '));
            cell.erase(cell.find_last_not_of(' ') + 1);
            cells.push_back(cell);
        }
        rows.push_back(cells);
    }
    return rows;
}

TEST(Tavikmeasure, AllModesBriefly) {
    const ToolRun r = RunProgram(
        "all --hours 0.008 --segment-minutes 0.24 --signals pink,music --reps 1 "
        "--trial-seconds 20 --file-seconds 14.4 --jobs 2 --examples 0");
    ASSERT_EQ(r.status, 0) << r.err;

    // False: ten kinds plus a total per family, each signal measured 28.8 s.
    const auto falseRows = Rows(r.out, "### False reports");
    ASSERT_EQ(falseRows.size(), 13u) << r.out;
    EXPECT_NE(r.out.find("hours per signal: pink 0.01 music 0.01"), std::string::npos) << r.out;
    for (const auto& row : falseRows) EXPECT_EQ(row[4], "0.02") << row[0] << " " << row[1];

    // Wrong: one file per signal, each with a program code of each TESK
    // family, a commercial of each and a ZELT program layer; most are found
    // exactly (wrong content would show in the other columns).
    const auto wrongRows = Rows(r.out, "### Wrong content");
    ASSERT_EQ(wrongRows.size(), 10u) << r.out;
    int sent = 0, exact = 0;
    for (const auto& row : wrongRows) {
        sent += std::stoi(row[3]);
        exact += std::stoi(row[4]);
        EXPECT_LE(std::stoi(row[6]), std::stoi(row[5]));  // part of the wrong content
    }
    EXPECT_EQ(wrongRows[0][3], "2");  // TESK 6 PROG
    EXPECT_EQ(wrongRows[3][3], "2");  // TESK 2 PROG
    EXPECT_EQ(sent, 10);
    EXPECT_GE(exact, 6);

    // Sensitivity: a 20 s repetition of each kind at -20 dB is found by
    // nearly every kind; the first report arrives within the repetition.
    const auto sensRows = Rows(r.out, "### Sensitivity");
    ASSERT_EQ(sensRows.size(), 10u) << r.out;
    int reported = 0;
    for (const auto& row : sensRows) {
        EXPECT_EQ(row[2], "1");
        reported += std::stoi(row[3]);
        if (row[3] == "1") {
            EXPECT_LE(std::stod(row[6]), 20.0) << row[0] << " " << row[1];
        }
    }
    EXPECT_GE(reported, 8) << r.out;
}

TEST(Tavikmeasure, SpeechSkippedWithoutSynthesiserAndBadOptions) {
    const std::string cache = BinaryDir() + "/tests/tools/measure-empty-" + std::to_string(getpid());
    const ToolRun r = RunProgram("false --signals speech,silence --hours 0.001 --cache '" + cache + "'",
                             "PATH=/nonexistent");
    std::system(("rm -rf '" + cache + "'").c_str());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("speech skipped: espeak-ng not found"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("| family | kind | silence | hours |"), std::string::npos) << r.out;

    EXPECT_EQ(RunProgram("").status, 2);
    EXPECT_EQ(RunProgram("false --signals noise").status, 2);
    EXPECT_EQ(RunProgram("wrong --jobs 0").status, 2);
    EXPECT_EQ(RunProgram("all --ratio x").status, 2);
}

}  // namespace
