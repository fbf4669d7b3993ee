#include "login/server_list_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

namespace krt {
namespace {

namespace fs = std::filesystem;

// 2026-12-09 03:30:00 UTC
const std::chrono::system_clock::time_point kNow{std::chrono::seconds(1796787000)};

class ServersFileFolder : public testing::Test {
  protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("krt-servers-" + std::to_string(::getpid()) + "-" +
                    testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path file() const { return m_folder / "ZededUzeriZerave.servers.json"; }
    void put(std::string_view text) const { std::ofstream(file(), std::ios::binary) << text; }
    std::vector<fs::path> filesThere() const {
        std::vector<fs::path> names;
        for (const fs::directory_entry& each : fs::directory_iterator(m_folder)) {
            names.push_back(each.path().filename());
        }
        std::ranges::sort(names);
        return names;
    }

    static ServerList firstOnly() {
        return ServerList(ServerEntry{"", "10.0.0.1", kServerPort, "op", true, {}});
    }

    fs::path m_folder;
};

constexpr std::string_view kHead = R"({"format": "krt-servers", "version": 1, "servers": )";

std::string server(std::string_view name, std::string_view address, std::string_view rest = "") {
    return R"({"name": ")" + std::string(name) + R"(", "address": ")" + std::string(address) +
           R"(", "port": 5500, "user": "op", "rememberLogin": true)" + std::string(rest) + "}";
}

std::string fileOf(std::string_view servers) {
    return std::string(kHead) + std::string(servers) + "}";
}

TEST_F(ServersFileFolder, ReadsWhatItCanAndKeepsAsideWhatItCannot) {
    struct Case {
        const char* what;
        std::string text;
        ServersFileState state;
        std::size_t servers;
        std::string_view messagePart;  // empty: no message
    };
    const std::string two = fileOf("[" + server("Site A", "10.0.0.2") + "," +
                                   server("Site B", "10.0.0.3", R"(, "password": "pw")") + "]");
    for (const Case& c : std::initializer_list<Case>{
             {"two servers", two, ServersFileState::Read, 2, ""},
             {"no servers", fileOf("[]"), ServersFileState::Read, 0, ""},
             {"not JSON", "{\"format\": \"krt-servers\", ", ServersFileState::SetAside, 0,
              "cannot be read"},
             {"another file's JSON", R"({"format": "krt-layouts", "version": 1})",
              ServersFileState::SetAside, 0, "it is not a server list"},
             {"no version", R"({"format": "krt-servers", "servers": []})",
              ServersFileState::SetAside, 0, "\"version\" is missing"},
             {"port as text",
              fileOf(R"([{"name": "A", "address": "10.0.0.2", "port": "5500", "user": "",
                          "rememberLogin": false}])"),
              ServersFileState::SetAside, 0, "\"port\""},
             {"duplicate names",
              fileOf("[" + server("Site A", "10.0.0.2") + "," + server("SITE A", "10.0.0.3") + "]"),
              ServersFileState::SetAside, 0, "is in the list already"},
             {"duplicate addresses",
              fileOf("[" + server("Site A", "10.0.0.2") + "," + server("Site B", "10.0.0.2") + "]"),
              ServersFileState::SetAside, 0, "10.0.0.2:5500 is in the list already"},
             {"a name with a line break", fileOf("[" + server("Site\\nA", "10.0.0.2") + "]"),
              ServersFileState::SetAside, 0, "printable"},
             {"a name with spaces around", fileOf("[" + server(" Site A", "10.0.0.2") + "]"),
              ServersFileState::SetAside, 0, "space"},
             {"an empty name", fileOf("[" + server("", "10.0.0.2") + "]"),
              ServersFileState::SetAside, 0, "Please enter a name"},
             {"too large",
              fileOf("[" + server("A", "10.0.0.2") + "]") +
                  std::string(kLargestServersFile_bytes, ' '),
              ServersFileState::SetAside, 0, "larger than 256 KB"},
             {"too many values", fileOf("[" + std::string(20000, '[')), ServersFileState::SetAside,
              0, "more entries than any server list"},
             {"newer version", R"({"format": "krt-servers", "version": 2, "servers": 7})",
              ServersFileState::NewerVersion, 0, "newer version of the client (format 2)"},
             {"the first server's address",
              fileOf("[" + server("Site A", "10.0.0.1") + "," + server("Site B", "10.0.0.3") + "]"),
              ServersFileState::Read, 1, "\"Site A\" is left out of the list"},
         }) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        put(c.text);
        ServerList list = firstOnly();
        const ServersFileResult result = readServersFile(file(), list, kNow);
        EXPECT_EQ(result.state, c.state);
        EXPECT_EQ(list.added().size(), c.servers);
        EXPECT_EQ(list.first().address, "10.0.0.1");
        if (c.messagePart.empty()) {
            EXPECT_EQ(result.message, "");
        } else {
            EXPECT_NE(result.message.find(c.messagePart), std::string::npos) << result.message;
            EXPECT_EQ(result.message.find('\n'), std::string::npos) << result.message;
        }
        const fs::path aside = "ZededUzeriZerave.servers.json.damaged-20261209-033000Z";
        if (c.state == ServersFileState::SetAside) {
            // Kept whole under its new name, and the message says where.
            EXPECT_EQ(filesThere(), std::vector<fs::path>{aside});
            EXPECT_EQ(result.setAsidePath, m_folder / aside);
            EXPECT_NE(result.message.find(aside.string()), std::string::npos);
            std::ifstream kept(m_folder / aside, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), c.text);
            EXPECT_TRUE(result.writable());
        } else {
            EXPECT_EQ(filesThere(), std::vector<fs::path>{file().filename()});
            EXPECT_EQ(result.writable(), c.state != ServersFileState::NewerVersion);
        }
    }
}

TEST_F(ServersFileFolder, ASecondDamagedFileOfTheSameSecondTakesANameOfItsOwn) {
    for (int i = 0; i < 2; ++i) {
        put("damaged " + std::to_string(i));
        ServerList list = firstOnly();
        EXPECT_EQ(readServersFile(file(), list, kNow).state, ServersFileState::SetAside);
    }
    EXPECT_EQ(filesThere(),
              (std::vector<fs::path>{"ZededUzeriZerave.servers.json.damaged-20261209-033000Z",
                                     "ZededUzeriZerave.servers.json.damaged-20261209-033000Z-1"}));
}

TEST_F(ServersFileFolder, AMissingFileIsAnEmptyList) {
    ServerList list = firstOnly();
    const ServersFileResult result = readServersFile(file(), list, kNow);
    EXPECT_EQ(result.state, ServersFileState::Missing);
    EXPECT_TRUE(result.writable());
    EXPECT_TRUE(list.added().empty());
}

TEST_F(ServersFileFolder, WritesAPrivateFileThatReadsBackTheSame) {
    ServerList list = firstOnly();
    ASSERT_EQ(list.add({"Site A", "10.0.0.2", 5501, "op", true, {}}), std::nullopt);
    ASSERT_EQ(list.add({"Площадка", "10.0.0.3", 5500, "", false, {}}), std::nullopt);
    ASSERT_EQ(list.add({"No store", "10.0.0.4", 5500, "u", true, "secret"}), std::nullopt);
    const fs::path nested = m_folder / "Kelmar" / "ZededUzeriZerave.servers.json";
    ASSERT_EQ(writeServersFile(nested, list), std::nullopt);

    struct stat status {};
    ASSERT_EQ(::stat(nested.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600U);
    ASSERT_EQ(::stat(nested.parent_path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700U);

    ServerList again = firstOnly();
    EXPECT_EQ(readServersFile(nested, again, kNow).state, ServersFileState::Read);
    EXPECT_TRUE(std::ranges::equal(again.added(), list.added()));
    // Only the login kept for want of a store has its password in the file.
    EXPECT_EQ(serversJson(list).find("\"password\""), serversJson(list).rfind("\"password\""));
    EXPECT_NE(serversJson(list).find("\"password\": \"secret\""), std::string::npos);
}

TEST_F(ServersFileFolder, AFolderThatCannotBeMadeIsSaid) {
    const fs::path blocked = m_folder / "blocker";
    std::ofstream(blocked) << "a file where the folder should be";
    const std::optional<std::string> error =
        writeServersFile(blocked / "ZededUzeriZerave.servers.json", firstOnly());
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("could not be saved"), std::string::npos) << *error;
}

}  // namespace
}  // namespace krt
