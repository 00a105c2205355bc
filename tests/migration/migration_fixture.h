// The folders of a run and the engine wired to a recording window and a fixed clock, for every run test.
#pragma once

#include "diagnostics/logs.h"
#include "migration/migration_engine.h"
#include "platform/path.h"
#include "platform/system_text.h"
#include "support/host_tool.h"
#include "support/recording_window.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace jor::test {

inline const std::string Acute = "\xC2\xB4";

inline std::string reportText(int migrated, int selected) {
    return "box info|Migration abgeschlossen|" + std::to_string(migrated) + " von " + std::to_string(selected) +
           " Dateien konnten erfolgreich migriert werden.\r\n\r\nBitte legen Sie die n\xC3\xA4"
           "chste CD / DVD ein.";
}

inline std::string finalProgressText(int count) {
    const std::string n = std::to_string(count);
    return "text " + n + " von " + n +
           " Dateien wurden \xC3\xBC"
           "berpr\xC3\xBC"
           "ft.";
}

// Program folder, medium, destination and temporary folder, with the engine
// wired to a recording window and a fixed clock.
class MigrationFixture : public ::testing::Test {
protected:
    MigrationFixture() {
        for (const auto& f : {prog, src, dst, tmp}) makeFolders(f);
        w.source = src;
        w.dest = dst;
        w.temp = tmp;
    }

    TempDir root;
    const std::string prog = root / "prog", src = root / "src", dst = root / "dst", tmp = root / "tmp";
    const std::string work = workingFolderOf(tmp);
    RecordingWindow w;
    Logs logs{prog, [this] { return w.debug; }, [] { return std::string("24.03.2008 14:05:09"); }};
    MigrationEngine engine{w, logs, prog};

    // The run stopped from the window's yield, by the desktop session's end or the window's close.
    void stopFromYield(bool sessionEnds) { w.request = sessionEnds ? RunRequest::EndNow : RunRequest::StopAfterFile; }

    // "Migrieren" followed by the timer's tick, as the window would deliver it.
    void run() {
        engine.StartRun();
        if (w.armed) engine.tmrMig_Timer();
    }

    std::vector<std::string> errorLines() const { return logLines("Error.txt"); }
    std::vector<std::string> debugLines() const { return logLines("DebugOrvek.log"); }
    // As UTF-8: the logs hold the system's code page.
    std::vector<std::string> logLines(const std::string& name) const {
        auto lines = linesWithoutTime(pathUnder(pathUnder(prog, "Logs"), name));
        for (auto& line : lines) line = fromSystemText(line);
        return lines;
    }

    // Names of the files directly in `folder`, sorted.
    static std::vector<std::string> filesIn(const std::string& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(fsPath(folder), ec))
            if (e.is_regular_file()) names.push_back(utf8Of(e.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    }

    // Contents of the migrated outputs in the destination, sorted; fails on any
    // other file there.
    std::vector<std::string> outputContents() const {
        static const std::regex outputName(R"(2\.25\.[0-9]+\.dcm)");
        std::vector<std::string> contents;
        for (const auto& name : filesIn(dst)) {
            EXPECT_TRUE(std::regex_match(name, outputName)) << "unexpected file in destination: " << name;
            contents.push_back(readFile(pathUnder(dst, name)));
        }
        std::sort(contents.begin(), contents.end());
        return contents;
    }

    void useRealDecompressor() {
        std::filesystem::copy_file(fsPath(pathUnder(JOR_PROGRAM_DIR, "gunzip.exe")),
                                   fsPath(pathUnder(prog, "gunzip.exe")));
    }
    // A fresh destination and logs, and `shellBody` as the decompressor: one
    // row of a table of decompressors.
    void startOverWithFakeDecompressor(const std::string& shellBody) {
        for (const auto& f : {dst, prog + "/Logs"}) std::filesystem::remove_all(fsPath(f));
        makeFolders(dst);
        std::filesystem::remove(fsPath(prog + "/gunzip.exe"));
        useFakeDecompressor(shellBody);
        w.events.clear();
    }
    void useFakeDecompressor(const std::string& shellBody) {
        writeFile(prog + "/gunzip.exe", "#!/bin/sh\n" + shellBody + "\n", 0755);
    }

    // Something that is no folder stands where the working folder goes.
    void expectStartRefusedWhileWorkingFolderIsBlocked(void (*block)(const std::string& path)) {
        std::filesystem::remove(fsPath(pathUnder(pathUnder(prog, "Logs"), "Error.txt")));
        block(work);
        RecordingWindow window;
        window.source = src, window.dest = dst, window.temp = tmp;
        MigrationEngine e(window, logs, prog);

        e.StartRun();

        EXPECT_EQ(errorLines(), std::vector<std::string>{"58 - File already exists - Start - " + work});
        EXPECT_EQ(window.boxes(),
                  std::vector<std::string>{"box stop|Jor-Orvek|Arbeitsverzeichnis konnte nicht angelegt werden."});
        EXPECT_FALSE(window.armed);
        EXPECT_TRUE(window.beendenEnabled);
        EXPECT_TRUE(window.migrierenEnabled);
        EXPECT_TRUE(e.state().TempFolder.empty());
    }

    // `content` packed by gzip or compress, as the archive wrote its objects.
    std::string packed(const std::string& tool, const std::string& content) {
        return packedWith(tool, content, root.path());
    }
};

class MigrationRun : public MigrationFixture {};

}  // namespace jor::test
