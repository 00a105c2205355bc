// Real faults injected into whole runs: each test provokes one, then checks
// what is left on disk with the same accounting of every file of the medium.
#include "migration/migration_fixture.h"
#include "settings/settings.h"
#include "support/small_disk.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jor::test {
namespace {

using namespace std::string_literals;
namespace stdfs = std::filesystem;

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

// ---------------------------------------------------------------------------
// A run as an unprivileged user. The tests run as root in CI, and root ignores
// permission bits; a forked child that has given up root sees them as a user
// would. It reports what its window showed through a pipe.

struct ChildRun {
    bool ran = false;
    std::string why;  // when it did not run
    std::vector<std::string> events;
};

using Hook = std::function<void(RecordingWindow&, MigrationEngine&)>;

void writeAllTo(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

enum ChildExit { ChildOk = 0, ChildCannotDrop = 3, ChildBitsIgnored = 4, ChildThrew = 5 };

[[noreturn]] void childMain(int out, const RecordingWindow& settings, const std::string& prog,
                            const std::string& probe, const Hook& hook) {
    if (::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(NoGroup) != 0 || ::setuid(Nobody) != 0) {
            writeAllTo(out, "cannot become nobody (65534): "s + std::strerror(errno));
            ::_exit(ChildCannotDrop);
        }
        if (::setuid(0) == 0) {
            writeAllTo(out, "root could be regained after dropping it");
            ::_exit(ChildCannotDrop);
        }
    }
    // A user namespace or a kept capability can still override the bits.
    if (::access(probe.c_str(), R_OK) == 0) {
        writeAllTo(out, "permission bits do not bind for uid " + std::to_string(::geteuid()));
        ::_exit(ChildBitsIgnored);
    }
    try {
        RecordingWindow w;
        w.source = settings.source;
        w.dest = settings.dest;
        w.temp = settings.temp;
        w.pacs = settings.pacs;
        w.debug = settings.debug;
        Logs logs{prog, [&w] { return w.debug; }, [] { return std::string("24.03.2008 14:05:09"); }};
        MigrationEngine engine{w, logs, prog};
        if (hook) hook(w, engine);
        engine.StartRun();
        if (w.armed) engine.tmrMig_Timer();
        std::string packedEvents;
        for (const auto& e : w.events) packedEvents += std::to_string(e.size()) + ":" + e;
        writeAllTo(out, packedEvents);
    } catch (const std::exception& e) {
        writeAllTo(out, e.what());
        ::_exit(ChildThrew);
    }
    ::_exit(ChildOk);
}

ChildRun runUnprivileged(const RecordingWindow& settings, const std::string& prog, const std::string& probe,
                         const Hook& hook) {
    ChildRun result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.why = "pipe: "s + std::strerror(errno);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.why = "fork: "s + std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        ::close(fds[0]);
        childMain(fds[1], settings, prog, probe, hook);
    }
    ::close(fds[1]);
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        ADD_FAILURE() << "the unprivileged run died of signal " << WTERMSIG(status);
        result.why = "crashed";
        return result;
    }
    const int code = WEXITSTATUS(status);
    if (code == ChildThrew) ADD_FAILURE() << "the unprivileged run threw: " << data;
    if (code != ChildOk) {
        result.why = data;
        return result;
    }
    for (size_t pos = 0; pos < data.size();) {
        const size_t colon = data.find(':', pos);
        const size_t size = std::stoul(data.substr(pos, colon - pos));
        result.events.push_back(data.substr(colon + 1, size));
        pos = colon + 1 + size;
    }
    result.ran = true;
    return result;
}

// Everything below `root`, `root` included, given to nobody.
void handOverToNobody(const std::string& root) {
    if (::geteuid() != 0) return;  // already ours, and the bits already bind
    ::lchown(root.c_str(), Nobody, NoGroup);
    std::error_code ec;
    for (stdfs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        ::lchown(it->path().c_str(), Nobody, NoGroup);
}

// Runs `act` as nobody in a child process, as another user of the machine
// would; empty when it was done, else why not.
std::string actAsNobody(const std::function<bool()>& act) {
    if (::geteuid() != 0) return "needs root to act as another user";
    const pid_t pid = ::fork();
    if (pid < 0) return "fork: "s + std::strerror(errno);
    if (pid == 0) {
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(NoGroup) == 0 && ::setuid(Nobody) == 0;
        ::_exit(dropped && act() ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "nobody could not do its part";
}

// A folder mounted once more further down its own tree: the looping folders
// a crafted disc image can have. Mounting needs root; where it is refused,
// mounted() is false.
class BindMount {
public:
    BindMount(const std::string& folder, const std::string& at) : at_(at) {
        if (::mount(folder.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0)
            mounted_ = true;
        else
            why_ = "cannot bind-mount here: "s + std::strerror(errno);
    }
    ~BindMount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

private:
    std::string at_, why_;
    bool mounted_ = false;
};

// ---------------------------------------------------------------------------

struct MediumFile {
    std::string path;    // full path on the medium
    std::string name;    // as logged
    std::string bytes;   // on the medium
    std::string output;  // what its migrated copy holds
};

enum class RunEnd { Reported, Stopped };

std::vector<std::string> boxesIn(const std::vector<std::string>& events) {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.starts_with("box ")) out.push_back(e);
    return out;
}

class FaultFixture : public MigrationFixture {
protected:
    std::vector<MediumFile> selected;
    const std::string probe = root / "probe";

    FaultFixture() { writeFile(probe, "unreadable for anyone but root", 0000); }

    // A file the run selects; `output` is what it migrates into (its own bytes for a plain copy).
    void medium(const std::string& relative, const std::string& bytes, std::optional<std::string> output = {},
                mode_t mode = 0644) {
        const std::string path = src + "/" + relative;
        writeFile(path, bytes, mode);
        selected.push_back({path, stdfs::path(path).filename().string(), bytes, output.value_or(bytes)});
    }
    void unselected(const std::string& relative, const std::string& bytes) { writeFile(src + "/" + relative, bytes); }

    ChildRun runAsNobody(const Hook& hook = {}) {
        handOverToNobody(root.path());
        return runUnprivileged(w, prog, probe, hook);
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
    Tally expectEveryFileAccountedFor(const std::vector<std::string>& events, RunEnd end,
                                      const std::set<std::string>& unreachable = {},
                                      std::vector<std::string> destinations = {}) {
        static const std::regex outputName(R"(2\.25\.[0-9]+\.dcm)");
        if (destinations.empty()) destinations.push_back(dst);
        std::multiset<std::string> outputs, setAside;
        for (const auto& folder : destinations) {
            std::error_code ec;
            for (const auto& e : stdfs::directory_iterator(folder, ec)) {
                const std::string name = e.path().filename().string();
                if (e.is_directory() && name == "BadObjects") {
                    for (const auto& bad : stdfs::directory_iterator(e.path())) {
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
        for (const auto& e : events)
            if (e.starts_with(head) && e.ends_with(tail))
                reached.insert(e.substr(head.size(), e.size() - head.size() - tail.size()));

        const auto lines = errorLines();
        // Lines that name no file ("GUNZIP.EXE not found.") stand for one file each.
        int anonymous = 0;
        for (const auto& l : lines)
            if (l.ends_with(" - ScanFolder") || l.ends_with(" - Start")) ++anonymous;
        const auto names = [&](const std::string& name) {
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
                return l.ends_with(" - " + name) || l.find("File " + name + " could not be migrated.") != std::string::npos;
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

        std::vector<std::string> reports;
        for (const auto& b : boxesIn(events))
            if (b.starts_with("box info|")) reports.push_back(b);
        if (end == RunEnd::Reported) {
            EXPECT_EQ(reports, std::vector<std::string>{reportText(tally.migrated, selectedReached)});
            const auto boxes = boxesIn(events);
            if (!boxes.empty() && !reports.empty()) {
                EXPECT_EQ(boxes.back(), reports.back()) << "the report comes last";
            }
        } else {
            EXPECT_TRUE(reports.empty()) << "a stopped run shows no report";
        }
        return tally;
    }
    Tally expectEveryFileAccountedFor(RunEnd end = RunEnd::Reported) {
        return expectEveryFileAccountedFor(w.events, end);
    }
};

// Distinct contents, so each copy can only be the copy of one file.
std::string image(const std::string& tag, size_t size = 5000) {
    std::string s = tag + ":";
    while (s.size() < size) s.push_back(static_cast<char>('A' + (s.size() * 31 + tag.size()) % 26));
    return s;
}

const std::string Marker = "#*lastfile*#";
std::string payloadOf(const std::string& tag) { return "\0"s + image(tag, 3000); }
std::string archived(const std::string& payload) { return "ARCHIVE HEADER v2 " + payload + Marker + "trailer" + Marker; }

#define SKIP_UNLESS_RAN(run) \
    if (!(run).ran) GTEST_SKIP() << "needs a run without root's rights: " << (run).why

// ---------------------------------------------------------------------------

class FaultDestination : public FaultFixture {};

TEST_F(FaultDestination, TurnsReadOnlyMidRun) {
    for (int i = 0; i < 6; ++i) medium("IM" + std::to_string(i), image("IM" + std::to_string(i)));
    const auto run = runAsNobody([this](RecordingWindow& w, MigrationEngine&) {
        w.onYield = [&w, this] {
            // As the third file starts, before anything of it is written.
            if (w.eventsStartingWith("value ").size() == 3) ::chmod(dst.c_str(), 0555);
        };
    });
    SKIP_UNLESS_RAN(run);
    ::chmod(dst.c_str(), 0755);
    const auto lines = errorLines();
    for (const auto& l : lines) EXPECT_TRUE(l.starts_with("70 - Permission denied - ScanFolder - IM")) << l;
    const auto tally = expectEveryFileAccountedFor(run.events, RunEnd::Reported);
    EXPECT_EQ(tally.migrated, 2);
    EXPECT_EQ(tally.logged, 4);
    EXPECT_EQ(lines.size(), 4u);
}

TEST_F(FaultDestination, TurnsReadOnlyMidRunWhileConverting) {
    useRealDecompressor();
    for (int i = 0; i < 4; ++i) {
        const std::string tag = "OBJ" + std::to_string(i);
        medium("OBJ0000" + std::to_string(i) + ".Z", packed("gzip", archived(payloadOf(tag))), payloadOf(tag));
    }
    medium("BAD00001.Z", packed("gzip", "no layout at all"));
    medium("BAD00002.Z", packed("gzip", "no layout either"));
    unselected("INDEX.TXT", "not an object");
    w.pacs = "Arzt und Praxis";
    const auto run = runAsNobody([this](RecordingWindow& w, MigrationEngine&) {
        w.onYield = [&w, this] {
            if (w.eventsStartingWith("value ").size() == 4) ::chmod(dst.c_str(), 0555);
        };
    });
    SKIP_UNLESS_RAN(run);
    ::chmod(dst.c_str(), 0755);
    const auto tally = expectEveryFileAccountedFor(run.events, RunEnd::Reported);
    EXPECT_LT(tally.migrated, 4) << "nothing can be written from the fourth file on";
    const auto lines = errorLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](auto& l) { return l.starts_with("70 - "); }));
    for (const auto& l : lines)
        EXPECT_TRUE(l.starts_with("70 - Permission denied - ScanFolder - ") || l.starts_with("-1 - File BAD0000") ||
                    l.starts_with("53 - File not found - ScanFolder - BAD0000"))
            << l;
}

TEST_F(FaultDestination, VanishesMidRun) {
    for (int i = 0; i < 5; ++i) medium("IM" + std::to_string(i), image("IM" + std::to_string(i)));
    const std::string movedAway = root / "dst.gone";
    w.onYield = [&] {
        // Moved rather than deleted: what was written before stays countable.
        if (w.eventsStartingWith("value ").size() == 3 && exists(dst)) stdfs::rename(dst, movedAway);
    };
    run();
    const auto lines = errorLines();
    for (const auto& l : lines) EXPECT_TRUE(l.starts_with("76 - Path not found - ScanFolder - IM")) << l;
    const auto tally = expectEveryFileAccountedFor(w.events, RunEnd::Reported, {}, {dst, movedAway});
    EXPECT_EQ(tally.migrated, 2);
    EXPECT_EQ(tally.logged, 3);
    EXPECT_FALSE(exists(dst)) << "the run must not create the destination again";
}

TEST_F(FaultDestination, VanishesMidRunWhileConverting) {
    useRealDecompressor();
    for (int i = 0; i < 3; ++i) {
        const std::string tag = "OBJ" + std::to_string(i);
        medium("OBJ0000" + std::to_string(i) + ".Z", packed("gzip", archived(payloadOf(tag))), payloadOf(tag));
    }
    medium("BAD00001.Z", packed("gzip", "no layout at all"));
    medium("BAD00002.Z", packed("gzip", "no layout either"));
    const std::string movedAway = root / "dst.gone";
    w.pacs = "Arzt und Praxis";
    w.onYield = [&] {
        if (w.eventsStartingWith("value ").size() == 3 && exists(dst)) stdfs::rename(dst, movedAway);
    };
    run();
    const auto tally = expectEveryFileAccountedFor(w.events, RunEnd::Reported, {}, {dst, movedAway});
    EXPECT_EQ(tally.logged, 3) << "from the third file on nothing can be written";
    EXPECT_FALSE(exists(dst));
}

TEST_F(FaultDestination, QuarantineFolderNotWritable) {
    useRealDecompressor();
    medium("GOOD0001.Z", packed("gzip", archived(payloadOf("G1"))), payloadOf("G1"));
    medium("BAD00001.Z", packed("gzip", "no layout at all"));
    medium("BAD00002.Z", packed("gzip", "no layout either"));
    makeFolders(dst + "/BadObjects");
    w.pacs = "Arzt und Praxis";
    handOverToNobody(root.path());
    ::chmod((dst + "/BadObjects").c_str(), 0555);
    const auto run = runAsNobody();
    ::chmod((dst + "/BadObjects").c_str(), 0755);
    SKIP_UNLESS_RAN(run);
    const auto lines = errorLines();
    for (const std::string name : {"BAD00001.Z", "BAD00002.Z"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), "70 - Permission denied - ScanFolder - " + name), lines.end())
            << name;
    const auto tally = expectEveryFileAccountedFor(run.events, RunEnd::Reported);
    EXPECT_EQ(tally.migrated, 1);
    EXPECT_EQ(tally.logged, 2);
}

// The run's own folders inside the medium's tree are never walked: their
// outputs and set-aside copies would be migrated again.
TEST_F(FaultDestination, InsideTheSourceIsNeverWalked) {
    for (int i = 0; i < 11; ++i)
        medium((i % 3 == 0 ? "" : "SERIE" + std::to_string(i % 3) + "/") + "IM" + std::to_string(i),
               image("IM" + std::to_string(i)));
    const std::string inside = src + "/MIGRIERT";
    makeFolders(inside);
    w.dest = inside;
    run();
    const auto tally = expectEveryFileAccountedFor(w.events, RunEnd::Reported, {}, {inside});
    EXPECT_EQ(tally.migrated, 11);
    EXPECT_TRUE(errorLines().empty());
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(11, 11)});
}

TEST_F(FaultDestination, InsideTheSourceWithTheWorkingFolderWhileConverting) {
    useRealDecompressor();
    w.pacs = "Arzt und Praxis";
    for (int i = 0; i < 3; ++i) {
        const std::string tag = "OBJ" + std::to_string(i);
        medium("OBJ0000" + std::to_string(i) + ".Z", packed("gzip", archived(payloadOf(tag))), payloadOf(tag));
    }
    medium("SUB/BAD00001.Z", packed("gzip", "no layout"));
    const std::string inside = src + "/MIGRIERT";
    makeFolders(inside);
    makeFolders(src + "/TEMP");
    w.dest = inside;
    w.temp = src + "/TEMP";
    run();
    const auto tally = expectEveryFileAccountedFor(w.events, RunEnd::Reported, {}, {inside});
    EXPECT_EQ(tally.migrated, 3);
    EXPECT_EQ(tally.setAside, 1);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(3, 4)});
    EXPECT_EQ(filesIn(inside + "/BadObjects"), std::vector<std::string>{"BAD000.err"}) << "set aside once";
}

// ---------------------------------------------------------------------------

class FaultSource : public FaultFixture {};

TEST_F(FaultSource, FoldersThatLeadBackAreWalkedOnce) {
    medium("IMG1", image("IMG1"));
    medium("SUB/IMG2", image("IMG2"));
    makeFolders(src + "/SUB/LOOP");
    const BindMount loop(src, src + "/SUB/LOOP");
    if (!loop.mounted()) GTEST_SKIP() << loop.why();
    run();
    EXPECT_EQ(errorLines(), std::vector<std::string>{"-1 - Folder already scanned. - ScanFolder - " + src + "/SUB/LOOP"});
    EXPECT_EQ(expectEveryFileAccountedFor().migrated, 2);
}

TEST_F(FaultSource, UnreadableFilesAreLoggedByName) {
    medium("IM1", image("IM1"));
    medium("LOCKED1", image("LOCKED1"), {}, 0000);
    medium("IM2", image("IM2"));
    medium("SUB/LOCKED2", image("LOCKED2"), {}, 0000);
    medium("SUB/IM3", image("IM3"));
    const auto run = runAsNobody();
    SKIP_UNLESS_RAN(run);
    auto lines = errorLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"70 - Permission denied - ScanFolder - LOCKED1",
                                               "70 - Permission denied - ScanFolder - LOCKED2"}));
    const auto tally = expectEveryFileAccountedFor(run.events, RunEnd::Reported);
    EXPECT_EQ(tally.migrated, 3);
    EXPECT_EQ(tally.logged, 2);
}

TEST_F(FaultSource, UnreadableSubfolderIsLoggedAndTheWalkGoesOn) {
    medium("IM1", image("IM1"));
    medium("A/IM2", image("IM2"));
    medium("LOCKED/IM3", image("IM3"));
    medium("LOCKED/DEEPER/IM4", image("IM4"));
    medium("Z/IM5", image("IM5"));
    ::chmod((src + "/LOCKED").c_str(), 0000);
    const auto run = runAsNobody();
    SKIP_UNLESS_RAN(run);
    EXPECT_EQ(errorLines(), std::vector<std::string>{"70 - Permission denied - ScanFolder - " + src + "/LOCKED"});
    const auto tally =
        expectEveryFileAccountedFor(run.events, RunEnd::Reported, {"LOCKED/IM3", "LOCKED/DEEPER/IM4"});
    EXPECT_EQ(tally.migrated, 3);
    EXPECT_EQ(tally.unreached, 2);
}

TEST_F(FaultSource, UnreadableMediumStillEndsWithAReport) {
    medium("IM1", image("IM1"));
    ::chmod(src.c_str(), 0000);
    const auto run = runAsNobody();
    SKIP_UNLESS_RAN(run);
    EXPECT_EQ(errorLines(), std::vector<std::string>{"70 - Permission denied - ScanFolder - " + src});
    expectEveryFileAccountedFor(run.events, RunEnd::Reported, {"IM1"});
}

// ---------------------------------------------------------------------------

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

TEST_F(FaultDecompressor, Missing) {
    typicalMedium();
    run();
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.logged, 3);
    EXPECT_EQ(w.eventsStartingWith("box stop|").size(), 3u);
}

// Whatever the decompressor does, only the file it leaves decides.
TEST_F(FaultDecompressor, CrashesOrWritesGarbage) {
    const struct {
        const char* name;
        std::string script;
    } cases[] = {
        {"crashes", "kill -SEGV $$"},
        {"crashes after writing half", "head -c 100 \"$3\" > \"${3%.z}\"; kill -SEGV $$"},
        {"writes garbage", "printf 'garbage\\001\\002 no layout' > \"${3%.z}\""},
        {"writes garbage with a 0x00 and no end marker", "printf 'head\\000garbage' > \"${3%.z}\""},
        {"leaves a folder as its output", "mkdir \"${3%.z}\""},
    };
    typicalMedium();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& f : {dst, prog + "/Logs"}) stdfs::remove_all(f);
        makeFolders(dst);
        stdfs::remove(prog + "/gunzip.exe");
        useFakeDecompressor(c.script);
        w.events.clear();
        run();
        const auto tally = expectEveryFileAccountedFor();
        EXPECT_EQ(tally.migrated, 0);
    }
}

// What the decompressor says when it fails is logged for the object besides
// what its content leads to; a system failure keeps its classic number.
TEST_F(FaultDecompressor, ItsReasonForFailingIsLogged) {
    const std::string setAside = "-1 - File BAD00001.Z could not be migrated. - CorrectImage";
    const struct {
        const char* name;
        std::string script;
        std::string line;
    } cases[] = {
        {"full disk", "echo \"gunzip.exe: $3: No space left on device\" >&2; exit 1",
         "61 - Disk full - ScanFolder - BAD00001.Z"},
        {"no permission", "echo \"gunzip.exe: $3: Permission denied\" >&2; exit 1",
         "70 - Permission denied - ScanFolder - BAD00001.Z"},
        {"broken object, last line counts",
         "echo 'gunzip.exe: first complaint' >&2; echo 'gunzip.exe: x.dcm.z: invalid compressed data' >&2; exit 1",
         "-1 - File BAD00001.Z could not be decompressed: gunzip.exe: x.dcm.z: invalid compressed data - ScanFolder"},
        {"control characters in the reason", "printf 'gunzip.exe: \\033]0;title\\007 broken\\r\\n' >&2; exit 1",
         "-1 - File BAD00001.Z could not be decompressed: gunzip.exe: \\x1B]0;title\\x07 broken - ScanFolder"},
        {"silent", "exit 4", "-1 - File BAD00001.Z could not be decompressed: gunzip.exe ended with code 4. - ScanFolder"},
    };
    medium("BAD00001.Z", "packed object");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& f : {dst, prog + "/Logs"}) stdfs::remove_all(f);
        makeFolders(dst);
        stdfs::remove(prog + "/gunzip.exe");
        useFakeDecompressor(c.script);
        w.events.clear();
        run();
        EXPECT_EQ(errorLines(), (std::vector<std::string>{c.line, setAside}));
        EXPECT_EQ(expectEveryFileAccountedFor().setAside, 1);
    }
}

TEST_F(FaultDecompressor, FullTemporaryDiskIsToldFromABrokenObject) {
    SmallDisk disk{root / "small-temp", 256};
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    w.temp = disk.path();
    useRealDecompressor();
    // Small when packed, far larger than the disk when unpacked.
    const std::string big = "\0"s + std::string(2 * 1024 * 1024, 'x');
    medium("BIG00001.Z", packed("gzip", archived(big)), big);
    medium("SMALL001.Z", packed("gzip", archived(payloadOf("S1"))), payloadOf("S1"));
    run();
    const auto lines = errorLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "61 - Disk full - ScanFolder - BIG00001.Z"), 1)
        << testing::PrintToString(lines);
    for (const auto& l : lines) EXPECT_NE(l.find("BIG00001.Z"), std::string::npos) << l;
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.migrated, 1);
    EXPECT_EQ(tally.setAside, 1);
}

// A name from the medium writes no line of its own, neither into the logs
// nor into the status label.
TEST_F(FaultDecompressor, NamesCannotForgeLogLines) {
    useFakeDecompressor("printf 'no layout' > \"${3%.z}\"");
    const std::string forged = "IMG\r\n08.12.2026 09:00:00 - -1 - Source folder doesn" + Acute + "t exist. - StartZ";
    const std::string shown = "IMG\\r\\n08.12.2026 09:00:00 - -1 - Source folder doesn" + Acute + "t exist. - StartZ";
    medium(forged, "object one");
    medium("ESC\x1B[2J\x07\tM\xFCller.Z", "object two");
    w.debug = 1;
    run();
    auto lines = errorLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"-1 - File ESC\\x1B[2J\\x07\\tM\xFCller.Z could not be migrated. - CorrectImage",
                                               "-1 - File " + shown + " could not be migrated. - CorrectImage"}));
    EXPECT_EQ(debugLines().size(), 2u);
    EXPECT_EQ(w.eventsStartingWith("status Datei " + src + "/" + shown + " wird").size(), 1u);
    for (const auto& e : w.eventsStartingWith("status ")) EXPECT_EQ(e.find_first_of("\r\n\x1B"), std::string::npos) << e;
    EXPECT_EQ(filesIn(dst + "/BadObjects").size(), 2u);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 2)});
}

// The working copy of a name at the file system's limit would pass it.
TEST_F(FaultDecompressor, NamesAtTheLengthLimitMigrate) {
    useRealDecompressor();
    for (const size_t length : {250, 253, 255}) {
        const std::string tag = "L" + std::to_string(length);
        medium(tag + std::string(length - tag.size() - 2, 'x') + ".Z", packed("gzip", archived(payloadOf(tag))),
               payloadOf(tag));
    }
    std::string umlauts;
    for (int i = 0; i < 126; ++i) umlauts += "\xC3\x84";  // 252 bytes of two-byte characters
    medium(umlauts + ".Z", packed("gzip", archived(payloadOf("U"))), payloadOf("U"));
    const std::string bad = std::string(253, 'B') + ".Z";
    medium(bad, packed("gzip", "no layout"));
    run();
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.migrated, 4);
    EXPECT_EQ(tally.setAside, 1);
    // Set aside under the medium's name, by its own rule.
    EXPECT_EQ(filesIn(dst + "/BadObjects"), std::vector<std::string>{std::string(251, 'B') + ".err"});
}

pid_t readPid(const std::string& file) { return exists(file) ? std::stoi(readFile(file)) : 0; }

// True once `pid` has ended (a zombie has ended too), waiting at most `limit`.
bool endsWithin(pid_t pid, std::chrono::seconds limit) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return errno == ESRCH;
    pollfd ended{fd, POLLIN, 0};
    const int rc = ::poll(&ended, 1, static_cast<int>(std::chrono::milliseconds(limit).count()));
    ::close(fd);
    return rc == 1;
}

TEST_F(FaultDecompressor, HangsWhileTheWindowIsClosed) {
    const std::string shellPid = root / "shell.pid", workerPid = root / "worker.pid";
    // A worker of its own, as a decompressor may start one.
    useFakeDecompressor("echo $$ > '" + shellPid + "'\n"
                        "case \"$3\" in\n"
                        "  *HANG*) sleep 600 & echo $! > '" + workerPid + ".tmp'; mv '" + workerPid + ".tmp' '" +
                        workerPid + "'; wait ;;\n"
                        "  *) exec gzip \"$@\" ;;\n"
                        "esac");
    medium("GOOD0001.Z", packed("gzip", archived(payloadOf("G1"))), payloadOf("G1"));
    medium("HANG0001.Z", packed("gzip", archived(payloadOf("H1"))), payloadOf("H1"));
    medium("LATER/GOOD0002.Z", packed("gzip", archived(payloadOf("G2"))), payloadOf("G2"));
    int yieldsWhileHanging = 0;
    w.onYield = [&] {
        if (exists(workerPid) && ++yieldsWhileHanging == 20) engine.requestStop();
    };
    const auto started = std::chrono::steady_clock::now();

    run();

    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(120))
        << "far below the 600 s the decompressor would take";
    const pid_t shell = readPid(shellPid), worker = readPid(workerPid);
    ASSERT_GT(worker, 0) << "the decompressor never hung";
    EXPECT_EQ(::kill(shell, 0), -1) << "the decompressor is still there";
    EXPECT_TRUE(endsWithin(worker, std::chrono::seconds(10))) << "the decompressor's worker is still running";
    if (!endsWithin(worker, std::chrono::seconds(0))) ::kill(worker, SIGKILL);
    EXPECT_EQ(errorLines(), std::vector<std::string>{"18 - User interrupt occurred - ScanFolder - HANG0001.Z"});
    const auto tally = expectEveryFileAccountedFor(RunEnd::Stopped);
    EXPECT_EQ(tally.logged, 1);
    EXPECT_GE(tally.unreached, 1) << "LATER is never walked";
    EXPECT_TRUE(w.beendenEnabled);
    EXPECT_TRUE(w.migrierenEnabled);
}

// Our own child of that name that has not ended, or 0.
pid_t ownChildNamed(const std::string& name) {
    for (const auto& e : stdfs::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(e.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        // "<pid> (<name>) <state> <parent> ..."
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid() && state != 'Z' && stat.substr(open + 1, close - open - 1) == name) return std::stoi(pid);
    }
    return 0;
}

// The real decompressor, held up in the middle of a large object as a
// stalled disk would hold it: closing the window ends it.
TEST_F(FaultDecompressor, RealDecompressorHeldUpWhileTheWindowIsClosed) {
    useRealDecompressor();
    // 256 MB once decompressed: still at work when the wait first yields.
    std::string zeros = packed("gzip", std::string(1 << 20, '\0')), members;
    for (int i = 0; i < 256; ++i) members += zeros;
    medium("HUGE0001.Z", members);
    medium("LATER/GOOD0001.Z", packed("gzip", archived(payloadOf("G1"))), payloadOf("G1"));
    pid_t heldUp = 0;
    int yieldsWhileHeldUp = 0;
    w.onYield = [&] {
        if (heldUp == 0 && (heldUp = ownChildNamed("gunzip.exe")) != 0) ::kill(heldUp, SIGSTOP);
        if (heldUp != 0 && ++yieldsWhileHeldUp == 20) engine.requestStop();
    };
    run();
    ASSERT_GT(heldUp, 0) << "the decompressor was never seen at work";
    const bool ended = endsWithin(heldUp, std::chrono::seconds(10));
    if (!ended) ::kill(heldUp, SIGKILL);
    EXPECT_TRUE(ended) << "the decompressor is still there";
    EXPECT_EQ(errorLines(), std::vector<std::string>{"18 - User interrupt occurred - ScanFolder - HUGE0001.Z"});
    const auto tally = expectEveryFileAccountedFor(RunEnd::Stopped);
    EXPECT_EQ(tally.unreached, 1) << "LATER is never walked";
}

// ---------------------------------------------------------------------------

class FaultSettings : public FaultFixture {};

// A folder setting cut at a NUL byte would name another folder: one that the
// run deletes at its end (TempPath) or walks without end (SourcePath).
TEST_F(FaultSettings, NulByteInAFolderSettingNamesNoFolder) {
    const std::string victim = root / "victim";
    makeTree(victim, {"keep1.dcm=k1", "SUB/keep2.dcm=k2"});
    medium("IM1", image("IM1"));
    const std::string cut = victim + "\0/junk"s;
    const struct {
        const char* key;
        const char* box;
    } cases[] = {
        {"TempPath", "Tempverzeichnis exestiert nicht."},
        {"SourcePath", "Quellverzeichnis exestiert nicht."},
        {"DestinationPath", "Zielordner exestiert nicht."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const auto value = [&](const std::string& key, const std::string& good) { return key == c.key ? cut : good; };
        writeFile(settingsFilePath(prog), "[Temp]\r\nTempPath=" + value("TempPath", tmp) + "\r\n[Path]\r\nSourcePath=" +
                                              value("SourcePath", src) + "\r\nDestinationPath=" +
                                              value("DestinationPath", dst) + "\r\n[PACS]\r\nPACS=HIPAX\r\n");
        const SettingsValues loaded = LoadSettings(prog);
        w.temp = loaded.TempPath, w.source = loaded.SourcePath, w.dest = loaded.DestinationPath, w.pacs = loaded.Pacs;
        w.events.clear();
        run();
        EXPECT_EQ(w.boxes(), std::vector<std::string>{"box stop|Jor-Orvek|"s + c.box});
        EXPECT_EQ(listFiles(victim), (std::vector<std::string>{"SUB/keep2.dcm", "keep1.dcm"}));
    }
    // Set between the start and its tick: the walk names it and ends.
    w.source = src, w.dest = dst, w.temp = tmp;
    stdfs::remove(prog + "/Logs/Error.txt");
    engine.StartRun();
    ASSERT_TRUE(w.armed);
    w.source = cut;
    w.events.clear();
    engine.tmrMig_Timer();
    EXPECT_EQ(errorLines(), std::vector<std::string>{"52 - Bad file name or number - ScanFolder - " + victim + "\\x00/junk"});
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 0)});
    EXPECT_EQ(listFiles(victim), (std::vector<std::string>{"SUB/keep2.dcm", "keep1.dcm"}));
}

// A temporary folder that every user may write to (1777): another user can
// make TempOrvek first, or put a link in its place or inside it.
TEST_F(FaultSettings, SharedTemporaryFolderPlantsAreNeverUsed) {
    useRealDecompressor();
    w.pacs = "Arzt und Praxis";
    medium("IMG1.Z", packed("gzip", archived(payloadOf("I1"))), payloadOf("I1"));
    const std::string mine = root / "mine.txt", myFolder = root / "my folder";
    writeFile(mine, "the user's own file", 0600);
    makeTree(myFolder, {"letter.txt=kept"});
    ::chmod(root.path().c_str(), 0755);
    ::chmod(tmp.c_str(), 01777);
    const struct {
        const char* name;
        std::function<bool()> plant;  // as nobody
        std::string line;
        std::string box;
    } cases[] = {
        {"TempOrvek made by another user, with links at the working names",
         [&] {
             std::error_code ec;
             stdfs::create_directory(work, ec);
             ::chmod(work.c_str(), 0777);
             for (const char* name : {"IMG1.dcm.z.part", "IMG1.dcm.z", "IMG1.dcm"})
                 stdfs::create_symlink(mine, work + "/" + name, ec);
             return !ec;
         },
         "70 - Permission denied - Start - " + work,
         "Das Arbeitsverzeichnis " + work +
             " geh\xC3\xB6rt einem anderen Benutzer. Bitte w\xC3\xA4hlen Sie ein anderes Tempverzeichnis."},
        {"TempOrvek is another user's link to a folder of the user",
         [&] {
             std::error_code ec;
             stdfs::create_directory_symlink(myFolder, work, ec);
             return !ec;
         },
         "75 - Path/File access error - Start - " + work, "Arbeitsverzeichnis konnte nicht angelegt werden."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stdfs::remove_all(work);
        stdfs::remove(prog + "/Logs/Error.txt");
        if (const std::string why = actAsNobody(c.plant); !why.empty()) GTEST_SKIP() << why;
        w.events.clear();
        run();
        EXPECT_EQ(errorLines(), std::vector<std::string>{c.line});
        EXPECT_EQ(w.boxes(), std::vector<std::string>{"box stop|Jor-Orvek|" + c.box});
        EXPECT_EQ(readFile(mine), "the user's own file");
        struct stat st;
        ASSERT_EQ(::stat(mine.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(listFiles(myFolder), std::vector<std::string>{"letter.txt"});
        EXPECT_TRUE(filesIn(dst).empty());
        struct stat planted;
        if (::lstat(work.c_str(), &planted) == 0 && S_ISDIR(planted.st_mode)) {
            EXPECT_EQ(planted.st_mode & 07777, 0777u) << "another user's folder is left as it was";
        }
    }
    // The user's own working folder there, new or left over open to every
    // user: none but the user may enter it while the run works in it.
    for (const bool leftOver : {false, true}) {
        SCOPED_TRACE(leftOver ? "left over, mode 0777" : "made by the run");
        stdfs::remove_all(work);
        stdfs::remove_all(dst);
        makeFolders(dst);
        if (leftOver) {
            makeTree(work, {"OLD.dcm.z=from an earlier run"});
            ::chmod(work.c_str(), 0777);
        }
        stdfs::remove(prog + "/Logs/Error.txt");
        mode_t during = 0;
        w.onYield = [&] {
            struct stat st;
            if (::lstat(work.c_str(), &st) == 0) during = st.st_mode & 07777;
        };
        w.events.clear();
        run();
        EXPECT_EQ(during, 0700u);
        EXPECT_EQ(expectEveryFileAccountedFor().migrated, 1);
        EXPECT_FALSE(exists(work)) << "removed at the end like one the run made";
    }
}

// ---------------------------------------------------------------------------

class FaultLogs : public FaultFixture {};

// However the logs fail, the run ends normally with its report.
TEST_F(FaultLogs, UnwritableLogsNeverStopTheRun) {
    const struct {
        const char* name;
        bool asNobody;
        std::function<void(const std::string& prog)> spoil;  // as root, before the tree is handed over
        std::string readOnly;                                 // then made read-only, below the program folder
    } cases[] = {
        {"Logs is a file", false, [](const std::string& p) { writeFile(p + "/Logs", "not a folder"); }, ""},
        {"Logs is a read-only folder", true, [](const std::string& p) { makeFolders(p + "/Logs"); }, "/Logs"},
        {"the log files are read-only", true,
         [](const std::string& p) {
             writeFile(p + "/Logs/Error.txt", "", 0444);
             writeFile(p + "/Logs/DebugOrvek.log", "", 0444);
         },
         ""},
        {"program folder is read-only", true, [](const std::string&) {}, "/"},
    };
    w.pacs = "Arzt und Praxis";
    w.debug = 1;  // the debug log is written to as well
    useRealDecompressor();
    medium("GOOD0001.Z", packed("gzip", archived(payloadOf("G1"))), payloadOf("G1"));
    medium("SUB/GOOD0002.Z", packed("gzip", archived(payloadOf("G2"))), payloadOf("G2"));
    medium("BAD00001.Z", packed("gzip", "no layout"));
    unselected("INDEX.TXT", "index");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::chmod(prog.c_str(), 0755);
        for (const auto& f : {dst, prog + "/Logs"}) {
            ::chmod(f.c_str(), 0755);
            stdfs::remove_all(f);
        }
        makeFolders(dst);
        c.spoil(prog);
        std::vector<std::string> events;
        if (c.asNobody) {
            handOverToNobody(root.path());
            if (!c.readOnly.empty()) ::chmod((prog + c.readOnly).c_str(), 0555);
            const auto run = runUnprivileged(w, prog, probe, {});
            ::chmod(prog.c_str(), 0755);
            if (!run.ran) GTEST_SKIP() << "needs a run without root's rights: " << run.why;
            events = run.events;
        } else {
            w.events.clear();
            run();
            events = w.events;
        }
        EXPECT_TRUE(errorLines().empty());
        EXPECT_TRUE(debugLines().empty());
        EXPECT_EQ(std::count(events.begin(), events.end(), "box stop|Jor-Orvek|Protokolldatei konnte nicht geschrieben werden."), 1)
            << "told once per run";
        const auto tally = expectEveryFileAccountedFor(events, RunEnd::Reported);
        EXPECT_EQ(tally.migrated, 2);
        EXPECT_EQ(tally.setAside, 1);
    }
}

// ---------------------------------------------------------------------------

class FaultLargeMedium : public FaultFixture {};

// Tens of thousands of files are made and copied far faster in memory than
// on a disk; where mounting is refused, the folders stay where they are.
class FaultManyFiles : public FaultFixture {
protected:
    SmallDisk sourceDisk{src, 512 * 1024}, destinationDisk{dst, 512 * 1024};
};

TEST_F(FaultLargeMedium, TreeDeeperThanAHundredLevels) {
    std::string relative;
    for (int level = 1; level <= 120; ++level) {
        relative += "level" + std::to_string(level) + "/";
        if (level == 1 || level % 40 == 0 || level == 101)
            medium(relative + "IM" + std::to_string(level), image("L" + std::to_string(level)));
    }
    run();
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.migrated, 5);
    EXPECT_TRUE(errorLines().empty());
}

TEST_F(FaultManyFiles, FolderOfFortyThousandFiles) {
    constexpr int Count = 40000;
    const std::string folder = src + "/MANY";
    makeFolders(folder);
    selected.reserve(Count);
    for (int i = 0; i < Count; ++i) {
        const std::string name = "IM" + std::to_string(i);
        const std::string path = folder + "/" + name;
        const std::string content = std::to_string(i);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << path;
        ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(fd);
        selected.push_back({path, name, content, content});
    }
    run();
    EXPECT_EQ(w.eventsStartingWith("max "), std::vector<std::string>{"max 40000"});
    EXPECT_EQ(w.eventsStartingWith("value ").at(Count - 1), "value 40000");
    EXPECT_EQ(w.eventsStartingWith("text " + std::to_string(Count) + " von").size(), 1u);
    EXPECT_NE(std::find(w.events.begin(), w.events.end(), finalProgressText(Count)), w.events.end());
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.migrated, Count);
    EXPECT_TRUE(errorLines().empty());
}

}  // namespace
}  // namespace jor::test
