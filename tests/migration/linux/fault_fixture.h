// Whole runs with one real fault each, and the accounting of every file of the medium they end with.
#pragma once

#include "migration/conversion_fixture.h"
#include "support/linux/as_user.h"

#include <optional>
#include <set>
#include <sys/types.h>

namespace jor::test {

struct MediumFile {
    std::string path;    // full path on the medium
    std::string name;    // as logged
    std::string bytes;   // on the medium
    std::string output;  // what its migrated copy holds
};

enum class RunEnd { Reported, Stopped };

// A run done by a child without root's rights; `window` holds what its
// window was shown.
struct ChildRun {
    bool ran = false;
    std::string why;  // when it did not run
    RecordingWindow window;
};

#define SKIP_UNLESS_RAN(run) \
    if (!(run).ran) GTEST_SKIP() << "needs a run without root's rights: " << (run).why

// Distinct contents, so each copy can only be the copy of one file.
inline std::string image(const std::string& tag, size_t size = 5000) {
    std::string s = tag + ":";
    while (s.size() < size) s.push_back(static_cast<char>('A' + (s.size() * 31 + tag.size()) % 26));
    return s;
}

inline std::string payloadOf(const std::string& tag) { return std::string(1, '\0') + image(tag, 3000); }

class FaultFixture : public MigrationFixture {
protected:
    std::vector<MediumFile> selected;

    // A file the run selects; `output` is what it migrates into (its own bytes for a plain copy).
    void medium(const std::string& relative, const std::string& bytes, std::optional<std::string> output = {},
                mode_t mode = 0644) {
        const std::string path = src + "/" + relative;
        writeFile(path, bytes, mode);
        selected.push_back({path, std::filesystem::path(path).filename().string(), bytes, output.value_or(bytes)});
    }
    void unselected(const std::string& relative, const std::string& bytes) { writeFile(src + "/" + relative, bytes); }

    using Hook = std::function<void(RecordingWindow&, MigrationEngine&)>;

    // The run as a user starts it: root, as the tests run in CI, ignores
    // permission bits. The whole tree is given to that user first.
    ChildRun runAsNobody(const Hook& hook = {}) {
        handOverToNobody(root.path());
        const auto child = withoutRootsRights([&] {
            RecordingWindow window;
            window.source = w.source, window.dest = w.dest, window.temp = w.temp;
            window.pacs = w.pacs, window.debug = w.debug;
            Logs childLogs{prog, [&window] { return window.debug; }, [] { return std::string("24.03.2008 14:05:09"); }};
            MigrationEngine childEngine{window, childLogs, prog};
            if (hook) hook(window, childEngine);
            childEngine.StartRun();
            if (window.armed) childEngine.tmrMig_Timer();
            std::string packedEvents;
            for (const auto& e : window.events) packedEvents += std::to_string(e.size()) + ":" + e;
            return packedEvents;
        });
        ChildRun result{child.ran, child.why, {}};
        const std::string& data = child.output;
        for (size_t pos = 0; pos < data.size();) {
            const size_t colon = data.find(':', pos);
            const size_t size = std::stoul(data.substr(pos, colon - pos));
            result.window.events.push_back(data.substr(colon + 1, size));
            pos = colon + 1 + size;
        }
        return result;
    }

    struct Tally {
        int migrated = 0, setAside = 0, logged = 0, unreached = 0;
    };

    // The one check every fault test ends with. Each selected file the run
    // reached is migrated whole into a destination (`dst`, or every folder of
    // `destinations`), set aside untouched in BadObjects, or logged in
    // Error.txt; nothing else is left there; the working folder is gone; a
    // run that was not stopped reports its counts. `unreachable` names the
    // files the run cannot list at all.
    Tally expectEveryFileAccountedFor(const RecordingWindow& window, RunEnd end,
                                      const std::set<std::string>& unreachable = {},
                                      std::vector<std::string> destinations = {}) {
        static const std::regex outputName(R"(2\.25\.[0-9]+\.dcm)");
        if (destinations.empty()) destinations.push_back(dst);
        std::multiset<std::string> outputs, setAside;
        for (const auto& folder : destinations) {
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
                const std::string name = e.path().filename().string();
                if (e.is_directory() && name == "BadObjects") {
                    for (const auto& bad : std::filesystem::directory_iterator(e.path())) {
                        if (bad.is_regular_file() && bad.path().extension() == ".err")
                            setAside.insert(readFile(bad.path()));
                        else
                            ADD_FAILURE() << "left in BadObjects: " << bad.path();
                    }
                } else if (e.is_regular_file() && std::regex_match(name, outputName)) {
                    outputs.insert(readFile(e.path()));
                } else {
                    ADD_FAILURE() << "left in the destination: " << e.path();
                }
            }
        }

        std::set<std::string> reached;
        const std::string head = "status Datei ", tail = " wird migriert...";
        for (const auto& e : window.eventsStartingWith(head))
            if (e.ends_with(tail)) reached.insert(e.substr(head.size(), e.size() - head.size() - tail.size()));

        const auto lines = errorLines();
        // Lines that name no file ("GUNZIP.EXE not found.") stand for one file each.
        int anonymous = 0;
        for (const auto& l : lines)
            if (l.ends_with(" - ScanFolder") || l.ends_with(" - Start")) ++anonymous;
        const auto names = [&](const std::string& name) {
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
                return l.ends_with(" - " + name) ||
                       l.find("File " + name + " could not be migrated.") != std::string::npos;
            });
        };

        Tally tally;
        int selectedReached = 0;
        for (const auto& f : selected) {
            const std::string relative = f.path.substr(src.size() + 1);
            if (!reached.contains(f.path)) {
                ++tally.unreached;
                if (end == RunEnd::Reported) {
                    EXPECT_TRUE(unreachable.contains(relative)) << relative << " was never looked at";
                }
                EXPECT_FALSE(outputs.contains(f.output)) << relative << " migrated without being looked at";
                continue;
            }
            EXPECT_FALSE(unreachable.contains(relative)) << relative << " was looked at after all";
            ++selectedReached;
            if (const auto it = outputs.find(f.output); it != outputs.end()) {
                outputs.erase(it);
                ++tally.migrated;
            } else if (const auto bad = setAside.find(f.bytes); bad != setAside.end()) {
                setAside.erase(bad);
                ++tally.setAside;
            } else if (names(f.name)) {
                ++tally.logged;
            } else if (anonymous > 0) {
                --anonymous;
                ++tally.logged;
            } else {
                ADD_FAILURE() << relative << " is neither migrated, set aside nor logged";
            }
        }
        EXPECT_TRUE(outputs.empty()) << outputs.size() << " output(s) not whole copies of any selected file";
        EXPECT_TRUE(setAside.empty()) << setAside.size() << " set-aside file(s) not matching any selected file";
        EXPECT_FALSE(exists(work)) << "the working folder is left";

        const auto reports = window.eventsStartingWith("box info|");
        if (end == RunEnd::Reported) {
            EXPECT_EQ(reports, std::vector<std::string>{reportText(tally.migrated, selectedReached)});
            const auto boxes = window.boxes();
            if (!boxes.empty() && !reports.empty()) {
                EXPECT_EQ(boxes.back(), reports.back()) << "the report comes last";
            }
        } else {
            EXPECT_TRUE(reports.empty()) << "a stopped run shows no report";
        }
        return tally;
    }
    Tally expectEveryFileAccountedFor(RunEnd end = RunEnd::Reported) { return expectEveryFileAccountedFor(w, end); }
};

// Suites whose cases are spread over the files by subject.
class FaultDestination : public FaultFixture {};
class FaultSource : public FaultFixture {};

class FaultDecompressor : public FaultFixture {
protected:
    FaultDecompressor() { w.pacs = "Arzt und Praxis"; }
    // Two objects that unwrap, one that does not, one other file.
    void typicalMedium() {
        medium("GOOD0001.Z", packed("gzip", archived(payloadOf("G1"))), payloadOf("G1"));
        medium("SUB/GOOD0002.R", packed("compress", archived(payloadOf("G2"))), payloadOf("G2"));
        medium("BAD00001.Z", packed("gzip", "no layout"));
        unselected("INDEX.TXT", "index");
    }
};

}  // namespace jor::test
