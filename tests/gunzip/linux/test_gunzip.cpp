// gunzip.exe against gzip on Linux: the cases of links, modes and pipes, and a folder's kinds, modes and times.
#include "gunzip/corpus.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jor::test {

std::string through(const std::string& command, const std::string& content) {
    static const TempDir scratch;
    writeFile(scratch / "in", content);
    const std::string line = command + " < '" + scratch / "in" + "' > '" + scratch / "out" + "'";
    // compress exits with 2 when its output is not smaller than its input.
    const int status = std::system(line.c_str());
    EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 2)) << line;
    return readFile(scratch / "out");
}

namespace {

namespace stdfs = std::filesystem;

const std::string Gunzip = std::string(JOR_PROGRAM_DIR) + "/gunzip.exe";
const timespec Stamp{1206364509, 0};  // every entry starts with this mtime; outputs must carry it

int runProgram(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

std::string describe(const std::string& folder, int exitStatus) {
    std::map<std::string, std::string> lines;
    for (const auto& e : stdfs::directory_iterator(folder)) {
        const std::string path = e.path().string(), name = e.path().filename().string();
        struct stat st = {};
        ::lstat(path.c_str(), &st);
        char head[64];
        std::snprintf(head, sizeof head, " mode %06o", static_cast<unsigned>(st.st_mode));
        std::string line = name + head;
        if (S_ISREG(st.st_mode)) {
            const std::string content = readFile(path);
            const auto crc =
                crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
            line += " " + std::to_string(content.size()) + " bytes crc " + std::to_string(crc) + " mtime " +
                    std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        } else if (S_ISLNK(st.st_mode)) {
            line += " -> " + stdfs::read_symlink(path).string();
        }
        lines[name] = line;
    }
    std::string text = "exit " + std::to_string(exitStatus) + "\n";
    for (const auto& [name, line] : lines) text += "  " + line + "\n";
    return text;
}

void settle(const std::string& folder) {
    for (const auto& e : stdfs::directory_iterator(folder)) {
        const timespec times[2] = {Stamp, Stamp};
        ::utimensat(AT_FDCWD, e.path().c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
}

int gzipOnHost(const std::vector<std::string>& options, const std::string& path) {
    std::vector<std::string> call{"gzip"};
    call.insert(call.end(), options.begin(), options.end());
    call.push_back(path);
    return runProgram(call);
}

int ours(const Case& c, const std::string& path) {
    std::vector<std::string> call{Gunzip};
    call.insert(call.end(), c.options.begin(), c.options.end());
    call.push_back(path);
    return runProgram(call);
}

std::vector<Case> platformCases(const std::string& valid) {
    const auto link = [](std::string target, std::string name) {
        return [=](const std::string& folder) { stdfs::create_symlink(target, folder + "/" + name); };
    };
    const auto file = [](std::string name, std::string content, mode_t mode = 0644) {
        return [=](const std::string& folder) { writeFile(folder + "/" + name, content, mode); };
    };
    return {
        {"output name is a link to another file", valid, "IMG.dcm.z",
         [=](const std::string& f) {
             file("victim", "must stay as it is")(f);
             link("victim", "IMG.dcm")(f);
         }},
        {"output name is a dangling link", valid, "IMG.dcm.z", link("/nonexistent/x", "IMG.dcm")},
        {"executable input", valid, "IMG.dcm.z", {}, {"-d", "-f"}, {}, 0751},
        {"set-user-id input", valid, "IMG.dcm.z", {}, {"-d", "-f"}, {}, 04755},
        {"input with a second hard link", valid, "IMG.dcm.z",
         [](const std::string& f) { ::link((f + "/IMG.dcm.z").c_str(), (f + "/OTHER").c_str()); }},
        {"input with a second hard link, no -f",
         valid,
         "IMG.dcm.z",
         [](const std::string& f) { ::link((f + "/IMG.dcm.z").c_str(), (f + "/OTHER").c_str()); },
         {"-d"}},
        {"input is a link",
         "",
         "",
         [=](const std::string& f) {
             file("real", valid)(f);
             link("real", "IMG.dcm.z")(f);
         },
         {"-d", "-f"},
         "IMG.dcm.z"},
        {"input is a link, no -f",
         "",
         "",
         [=](const std::string& f) {
             file("real", valid)(f);
             link("real", "IMG.dcm.z")(f);
         },
         {"-d"},
         "IMG.dcm.z"},
        {"input is a pipe",
         "",
         "",
         [](const std::string& f) { ::mkfifo((f + "/IMG.dcm.z").c_str(), 0644); },
         {"-d", "-f"},
         "IMG.dcm.z"},
    };
}

}  // namespace jor::test
