#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A fresh program folder for one test, set as PAWLINEX_HOME and removed afterwards.
class SettingsTestFolder {
public:
    SettingsTestFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pawlinex-settings-XXXXXX");
        m_path = ::mkdtemp(pattern.data());
        ::setenv("PAWLINEX_HOME", m_path.c_str(), 1);
    }
    ~SettingsTestFolder() {
        ::unsetenv("PAWLINEX_HOME");
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    SettingsTestFolder(const SettingsTestFolder&) = delete;
    SettingsTestFolder& operator=(const SettingsTestFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string ini() const { return m_path + "/pawlinex.ini"; }

    void write(const std::string& bytes) const { writeFile(ini(), bytes); }
    std::string read() const { return readFile(ini()); }

    static void writeFile(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string m_path;
};
