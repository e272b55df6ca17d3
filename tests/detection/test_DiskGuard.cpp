// The disk guard against a probe that reads the program folder itself: every byte of a file
// there stands for a megabyte used, so deleting a file frees room as it would on a real disk.

#include "detection/DiskGuard.h"
#include "settings/AppSettings.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class FolderProbe final : public FreeSpaceProbe {
public:
    FolderProbe(std::string folder, uint64_t capacityMb)
        : m_folder(std::move(folder)), m_cap(capacityMb) {}
    bool answers = true;
    std::optional<uint64_t> freeBytes(const std::string&) const override {
        if (!answers)
            return std::nullopt;
        uint64_t used = 0;
        for (const auto& e : fs::recursive_directory_iterator(m_folder))
            if (e.is_regular_file())
                used += e.file_size();
        return used >= m_cap ? 0 : (m_cap - used) * 1024 * 1024;
    }

private:
    std::string m_folder;
    uint64_t m_cap;
};

struct GuardCase {
    const char* what;
    int keepFreeMb;
    uint64_t capacityMb;
    std::vector<std::pair<const char*, int>> files; // relative path, size in "MB"
    std::vector<const char*> earlier;               // files this alarm already wrote
    const char* target;                             // the file about to be written
    bool probeAnswers;
    std::set<std::string> deleted;
};

const std::vector<std::pair<const char*, int>> kMixed = {
    {"img/071009042619_ALERT.jpg", 2}, {"avi/061231235959_ALERT.AVI", 5},
    {"img/070101000000_TEST.jpg", 1},  {"img/071009042700_HOOK.jpg", 1},
    {"avi/071009042619_ALERT.AVI", 5},
};

const std::vector<std::pair<const char*, int>> kForeign = {
    {"avi/ALERT.AVI", 5},
    {"img/notes.txt", 1},
    {"img/071009042619_alert.jpg", 1},
    {"img/07100904261_ALERT.jpg", 1},
    {"img/071009042619_ALERT.jpg.bak", 1},
    {"avi/071009042619_TEST.jpg", 1},
    {"img/071009042619_ALERT.AVI", 1},
    {"img/0710090426aa_HOOK.jpg", 1},
    {"071009042619_ALERT.jpg", 1},
};

TEST(DiskGuard, DeletesOldestOwnFilesUntilThereIsRoom) {
    const std::vector<GuardCase> cases = {
        {"off: nothing goes however full",
         0,
         14,
         kMixed,
         {},
         "img/071010000000_ALERT.jpg",
         true,
         {}},
        {"room enough: nothing goes", 4, 18, kMixed, {}, "img/071010000000_ALERT.jpg", true, {}},
        {"exactly the amount kept is enough",
         4,
         18,
         kMixed,
         {},
         "avi/071010000000_ALERT.AVI",
         true,
         {}},
        {"one short: the oldest by name, across both folders",
         5,
         18,
         kMixed,
         {},
         "img/071010000000_ALERT.jpg",
         true,
         {"avi/061231235959_ALERT.AVI"}},
        {"oldest first until there is room",
         11,
         18,
         kMixed,
         {},
         "img/071010000000_ALERT.jpg",
         true,
         {"avi/061231235959_ALERT.AVI", "img/070101000000_TEST.jpg", "avi/071009042619_ALERT.AVI"}},
        {"the current alarm's files stay, the write goes ahead",
         100,
         18,
         kMixed,
         {"avi/071009042619_ALERT.AVI", "img/071009042700_HOOK.jpg"},
         "img/071009042701_ALERT.jpg",
         true,
         {"avi/061231235959_ALERT.AVI", "img/070101000000_TEST.jpg", "img/071009042619_ALERT.jpg"}},
        {"only its own name forms, in their own folders",
         100,
         14,
         kForeign,
         {},
         "img/071010000000_ALERT.jpg",
         true,
         {}},
        {"a probe without an answer deletes nothing",
         100,
         14,
         kMixed,
         {},
         "img/071010000000_ALERT.jpg",
         false,
         {}},
    };
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir home;
        const std::string root = home.path().toStdString();
        fs::create_directory(root + "/img");
        fs::create_directory(root + "/avi");
        for (const auto& [name, size] : c.files)
            std::ofstream(root + "/" + name, std::ios::binary) << std::string(size, 'x');
        FolderProbe probe(root, c.capacityMb);
        probe.answers = c.probeAnswers;
        char* logText = nullptr;
        size_t logSize = 0;
        std::FILE* log = open_memstream(&logText, &logSize);
        AppSettings.Extra.KeepFree = c.keepFreeMb;
        {
            DiskGuard guard(probe, log);
            guard.beginAlarm();
            const int keep = AppSettings.Extra.KeepFree;
            AppSettings.Extra.KeepFree = 0; // registering this alarm's earlier files only
            for (const char* e : c.earlier)
                guard.makeRoom(root + "/" + e);
            AppSettings.Extra.KeepFree = keep;
            guard.makeRoom(root + "/" + c.target);
        }
        std::fclose(log);
        const std::string lines(logText, logSize);
        std::free(logText);
        AppSettings.Extra.KeepFree = 0;

        std::set<std::string> gone;
        for (const auto& [name, size] : c.files)
            if (!fs::exists(root + "/" + name))
                gone.insert(name);
        EXPECT_EQ(gone, c.deleted);
        // One line on standard error per deletion, naming the file.
        EXPECT_EQ(static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')),
                  c.deleted.size())
            << lines;
        for (const std::string& d : c.deleted)
            EXPECT_NE(lines.find(root + "/" + d), std::string::npos) << lines;
    }
}

} // namespace
