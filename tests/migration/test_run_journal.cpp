// The disc journal as runs write it, and the question before a disc goes again.
#include "migration/conversion_fixture.h"
#include "diagnostics/csv.h"
#include "platform/system_text.h"

namespace jor::test {
namespace {

using namespace std::string_literals;

class RunJournal : public Conversion {
protected:
    RunJournal() {
        engine.mediumOf = [this](const std::string&) { return medium; };
        useRealDecompressor();
        object("IMG0001.Z", packed("gzip", archived(payload(1))));
        object("SUB/DEFEKT.Z", packed("gzip", "HEADER without payload marker"s));
    }
    VolumeIdentity medium{"CT M\xC3\x9CLLER; \"2008\"", "1A2B-3C4D", true};

    // The journal's lines after the header, split into fields, in UTF-8, up
    // to the result; each names its run's protocol.
    std::vector<std::vector<std::string>> journal() const {
        std::vector<std::vector<std::string>> rows;
        const std::string path = prog + "/Logs/Journal.csv";
        if (!exists(path)) return rows;
        const std::string text = readFile(path);
        size_t at = text.find("\r\n") + 2;
        for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            auto fields = csvFields(text.substr(at, end - at));
            EXPECT_TRUE(fields && fields->size() == 21) << text.substr(at, end - at);
            if (!fields || fields->size() != 21) continue;
            for (auto& f : *fields) f = fromSystemText(f);
            EXPECT_TRUE(exists(prog + "/Logs/Discs/" + fields->back())) << fields->back();
            fields->resize(12);
            rows.push_back(*fields);
        }
        return rows;
    }
    std::vector<std::string> expectedRow(const std::string& counts, const std::string& result) const {
        std::vector<std::string> row = {
            "24.03.2008 14:05:09", "24.03.2008 14:05:09", medium.label, medium.serial, src, dst, "Arzt und Praxis"};
        for (size_t at = 0, end; at <= counts.size(); at = end + 1) {
            end = counts.find(' ', at);
            if (end == std::string::npos) end = counts.size();
            row.push_back(counts.substr(at, end - at));
        }
        row.push_back(result);
        return row;
    }
};

TEST_F(RunJournal, EachRunLeavesOneLineAndADiscDoneBeforeIsAskedFor) {
    run();
    ASSERT_EQ(journal(), (std::vector<std::vector<std::string>>{expectedRow("2 1 1 2", "abgeschlossen")}));

    // The same disc again: asked before the walk; Nein writes nothing but the line.
    w.answer = false;
    w.events.clear();
    run();
    const std::string question = "box question|Jor-Orvek|Der Datentr\xC3\xA4ger " + medium.label + " (Seriennummer " +
                                 medium.serial + ") wurde am 24.03.2008 bereits nach " + dst +
                                 " migriert (1 von 2 Dateien). Noch einmal migrieren?";
    EXPECT_EQ(w.eventsStartingWith("box "), std::vector<std::string>{question});
    EXPECT_FALSE(w.armed);
    EXPECT_TRUE(w.beendenEnabled && w.migrierenEnabled);
    EXPECT_FALSE(exists(work)) << "nothing made for a skipped disc";
    EXPECT_EQ(outputContents().size(), 1u);
    EXPECT_EQ(journal().back(), expectedRow("0 0 0 0", "ausgelassen"));

    // Ja goes on as before; a run closed part-way is journalled as stopped.
    w.answer = true;
    w.onYield = [this] { w.request = RunRequest::StopAfterFile; };
    run();
    EXPECT_EQ(journal().size(), 3u);
    EXPECT_EQ(journal().back().back(), "abgebrochen");
    EXPECT_EQ(journal().back()[10], "1") << "the stop's own line";

    // Another destination, another medium, or one without a serial: no question.
    w.onYield = nullptr;
    w.request = RunRequest::GoOn;
    for (const VolumeIdentity& other :
         {VolumeIdentity{"ANDERE", "9999-0000", true}, VolumeIdentity{"FEST", "1A2B-3C4D", false}}) {
        medium = other;
        w.events.clear();
        run();
        EXPECT_TRUE(w.eventsStartingWith("box question").empty()) << other.label;
    }
    EXPECT_EQ(journal().back()[2] + journal().back()[3], "") << "a fixed disk goes without label and serial";
}

TEST_F(RunJournal, AJournalThatCannotBeWrittenOrReadNeverHoldsARunUp) {
    makeFolders(prog + "/Logs/Journal.csv");  // a folder in its place
    run();
    run();
    // The first run's line waits beside its protocol, and the question finds it.
    EXPECT_EQ(w.boxes().size(), 5u);
    EXPECT_EQ(w.eventsStartingWith("box stop"),
              std::vector<std::string>(2, "box stop|Jor-Orvek|Protokolldatei konnte nicht geschrieben werden."));
    EXPECT_EQ(w.eventsStartingWith("box question").size(), 1u);
    EXPECT_EQ(outputContents().size(), 2u);
}

}  // namespace
}  // namespace jor::test
