#include "login/server_list.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

ServerEntry entry(std::string name, std::string address, int port = kServerPort,
                  std::string user = "op") {
    return ServerEntry{std::move(name), std::move(address), port, std::move(user), true, {}};
}

// The login dialog's server, and two the operator added.
ServerList siteList() {
    ServerList list(entry("", "10.0.0.1"));
    EXPECT_EQ(list.add(entry("Site A", "10.0.0.2")), std::nullopt);
    EXPECT_EQ(list.add(entry("Site B", "10.0.0.3", 6000)), std::nullopt);
    return list;
}

TEST(ServerList, AddsOnlyWhatTheRulesAllowAndSaysWhy) {
    struct Case {
        const char* what;
        ServerEntry added;
        std::string_view messagePart;  // empty: accepted
    };
    const std::string longest(kMostServerNameCharacters, 'x');
    std::string wide;
    for (std::size_t i = 0; i < kMostServerNameCharacters; ++i) {
        wide += "\u00e9";
    }
    for (const Case& c : {
             Case{"new name and address", entry("Site C", "10.0.0.4"), ""},
             Case{"same address, other port", entry("Site C", "10.0.0.2", 5501), ""},
             Case{"200 characters", entry(longest, "10.0.0.4"), ""},
             Case{"200 two-byte characters", entry(wide, "10.0.0.4"), ""},
             Case{"any script", entry("Площадка Юг", "10.0.0.4"), ""},
             Case{"empty name", entry("", "10.0.0.4"), kServerNameEmpty},
             Case{"spaces only", entry("  \t ", "10.0.0.4"), kServerNameEmpty},
             Case{"201 characters", entry(longest + "y", "10.0.0.4"), kServerNameTooLong},
             Case{"201 two-byte characters", entry(wide + "\u00e9", "10.0.0.4"),
                  kServerNameTooLong},
             Case{"line break", entry("Site\nC", "10.0.0.4"), kServerNameUnprintable},
             Case{"reordering", entry("Site \u202EC", "10.0.0.4"), kServerNameUnprintable},
             Case{"zero-width", entry("Site\u200BA", "10.0.0.4"), kServerNameUnprintable},
             Case{"not UTF-8", entry("Site \xff", "10.0.0.4"), kServerNameUnprintable},
             Case{"same name", entry("Site A", "10.0.0.4"), "named \"Site A\" is in the list"},
             Case{"same name in other case", entry("site a", "10.0.0.4"),
                  "named \"Site A\" is in the list"},
             Case{"same name with spaces around", entry("  SITE A ", "10.0.0.4"),
                  "named \"Site A\" is in the list"},
             Case{"same address and port", entry("Site C", "10.0.0.3", 6000),
                  "10.0.0.3:6000 is in the list already, as \"Site B\""},
             Case{"the first server's address", entry("Site C", "10.0.0.1"),
                  "10.0.0.1:5500 is the login dialog's server"},
             Case{"missing octet", entry("Site C", "10.0..4"), kMissingOctetMessage},
             Case{"empty address", entry("Site C", ""), kMissingOctetMessage},
             Case{"octet above 255", entry("Site C", "10.0.0.300"), "300 is not a valid entry"},
             Case{"a fifth part", entry("Site C", "10.0.0.4.5"), kMissingOctetMessage},
             Case{"a host name", entry("Site C", "nvr.example"), kMissingOctetMessage},
             Case{"port 0", entry("Site C", "10.0.0.4", 0), kServerPortInvalid},
             Case{"port 65536", entry("Site C", "10.0.0.4", 65536), kServerPortInvalid},
             Case{"port 65535", entry("Site C", "10.0.0.4", 65535), ""},
             Case{"31-character user", entry("Site C", "10.0.0.4", 5500, std::string(31, 'u')), ""},
             Case{"32-character user", entry("Site C", "10.0.0.4", 5500, std::string(32, 'u')),
                  kServerUserTooLong},
         }) {
        ServerList list = siteList();
        const std::optional<std::string> refused = list.add(c.added);
        if (c.messagePart.empty()) {
            EXPECT_EQ(refused, std::nullopt) << c.what;
            EXPECT_EQ(list.added().size(), 3U) << c.what;
        } else {
            ASSERT_TRUE(refused.has_value()) << c.what;
            EXPECT_NE(refused->find(c.messagePart), std::string::npos)
                << c.what << ": " << *refused;
            EXPECT_EQ(list.added().size(), 2U) << c.what;
        }
    }
}

TEST(ServerList, EditsAndRemovesByNameWhateverItsCase) {
    struct Case {
        const char* what;
        std::function<std::optional<std::string>(ServerList&)> change;
        std::optional<std::string_view> refusal;
        std::vector<std::string> names;  // the added servers afterwards
    };
    for (const Case& c : std::initializer_list<Case>{
             {"remove", [](ServerList& l) { return l.remove("site a"); }, {}, {"Site B"}},
             {"remove unknown",
              [](ServerList& l) { return l.remove("Site Z"); },
              kServerNotFound,
              {"Site A", "Site B"}},
             {"remove the first server",
              [](ServerList& l) { return l.remove(""); },
              kServerNotFound,
              {"Site A", "Site B"}},
             {"rename",
              [](ServerList& l) { return l.replace("Site A", entry("North", "10.0.0.2")); },
              {},
              {"North", "Site B"}},
             {"same name in other case, kept address",
              [](ServerList& l) { return l.replace("Site A", entry("SITE A", "10.0.0.2")); },
              {},
              {"SITE A", "Site B"}},
             {"onto another's name",
              [](ServerList& l) { return l.replace("Site A", entry("site b", "10.0.0.9")); },
              "named \"Site B\"",
              {"Site A", "Site B"}},
             {"onto another's address",
              [](ServerList& l) { return l.replace("Site A", entry("A", "10.0.0.3", 6000)); },
              "as \"Site B\"",
              {"Site A", "Site B"}},
             {"edit unknown",
              [](ServerList& l) { return l.replace("Site Z", entry("Z", "10.0.0.9")); },
              kServerNotFound,
              {"Site A", "Site B"}},
             {"remove, then its name is free again",
              [](ServerList& l) {
                  EXPECT_EQ(l.remove("Site A"), std::nullopt);
                  return l.add(entry("site A", "10.0.0.2"));
              },
              {},
              {"Site B", "site A"}},
         }) {
        ServerList list = siteList();
        const std::optional<std::string> refused = c.change(list);
        if (c.refusal) {
            ASSERT_TRUE(refused.has_value()) << c.what;
            EXPECT_NE(refused->find(*c.refusal), std::string::npos) << c.what << ": " << *refused;
        } else {
            EXPECT_EQ(refused, std::nullopt) << c.what;
        }
        std::vector<std::string> names;
        for (const ServerEntry& server : list.added()) {
            names.push_back(server.name);
        }
        EXPECT_EQ(names, c.names) << c.what;
        EXPECT_EQ(list.first().address, "10.0.0.1") << c.what;
    }
}

TEST(ServerList, HoldsAtMostItsBound) {
    ServerList list(entry("", "10.0.0.1"));
    for (std::size_t i = 0; i < kMostServers; ++i) {
        ASSERT_EQ(list.add(entry("S" + std::to_string(i), "10.1.0." + std::to_string(i))),
                  std::nullopt);
    }
    EXPECT_EQ(list.add(entry("One more", "10.2.0.1")), std::string(kTooManyServers));
}

}  // namespace
}  // namespace krt
