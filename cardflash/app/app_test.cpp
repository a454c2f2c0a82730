// The start-up of cardflash as a user meets it: the Windows road, the language library, the
// command-line switches, and what the program records in its log before it ends.
#include "cardflash/app/program_fixture.h"

#include <cstring>
#include <vector>

namespace {

const char kEnglishCaption[] = "Dorvex Upgrade Utility";
const char kGermanCaption[] = "Dorvex Aktualisierungsprogramm";

std::string TestLibrary() { return winetest::ProgramFolder() + "\\cardflash_German.dll"; }

}  // namespace

TEST_F(CardflashTest, StartsOnNt40WithoutAskingForTheRegistryService) {
    // watchsvc is not registered: a probe would stop the program with a message.
    EXPECT_EQ(Run("nt40"), 0u);
    std::string log = Log();
    EXPECT_TRUE(HasLine(log, "Windows: Windows NT 4.0 (index 5)")) << log;
    EXPECT_TRUE(HasLine(log, "Port manager: not open")) << log;
    EXPECT_TRUE(HasLine(log, "Modems: 0")) << log;
    EXPECT_TRUE(HasLine(log, "Selected modem: -1")) << log;
}

TEST_F(CardflashTest, SwitchesAreFoundInAnyCaseAndInsideLongerWords) {
    struct {
        const char* args;
        const char* mode;
        int post_restart;
    } cases[] = {
        {"", "sheet", 0},
        {"/TVL", "TVL", 0},
        {"/tvl", "TVL", 0},
        {"x/TvLy", "TVL", 0},                  // inside a longer word
        {"/flash_both", "both adapters", 0},
        {"/TVL /FLASH_BOTH", "both adapters", 0},  // both: the both-adapters mode wins
        {"/FLASH_BOTH /TVL", "both adapters", 0},
        {"upgrade", "sheet", 1},
        {"/TVL UPGRADE", "TVL", 0},            // the command-line modes are not the post-restart run
        {"TVL FLASH_BOTH", "sheet", 0},        // without the slash they are no switches
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(Run("win98", c.args), 0u);
        std::string log = Log();
        EXPECT_TRUE(HasLine(log, std::string("Mode: ") + c.mode)) << log;
        EXPECT_TRUE(HasLine(log, "Post-restart: " + std::to_string(c.post_restart))) << log;
    }
}

TEST_F(CardflashTest, WordsInTheProgramsOwnPathAreNoSwitches) {
    // A quoted path with blanks: the arguments start after it, and what the path holds never counts.
    MakeFolder("Dorvex UPGRADE Tools");
    EXPECT_EQ(Run("win98"), 0u);
    std::string log = Log();
    EXPECT_TRUE(HasLine(log, "Post-restart: 0")) << log;
    EXPECT_TRUE(HasLine(log, "Mode: sheet")) << log;

    EXPECT_EQ(Run("win98", "/Tvl"), 0u);
    EXPECT_TRUE(HasLine(Log(), "Mode: TVL")) << Log();
}

TEST_F(CardflashTest, LanguageFromTheSettingsFile) {
    std::string german = folder_ + "\\German";
    std::string library = german + "\\cardflash_German.dll";
    std::string help = german + "\\cardflash_German.hlp";
    std::string own_help = folder_ + "\\cardflash.HLP";
    struct {
        const char* name;
        const char* ini;          // the settings file before the start ("" for none)
        const char* dll;          // "lib": the test library, "junk": a file that is no library, "": none
        bool with_help;
        const char* language;     // CurLanguage afterwards
        bool loaded;
    } cases[] = {
        {"empty on an English system", "[Application]\nCurLanguage=\n", "", false, "English", false},
        {"no settings file", "", "", false, "English", false},
        {"English never loads a library", "[Application]\nCurLanguage=English\n", "lib", true, "English", false},
        {"German with its library and help", "[Application]\nCurLanguage=German\n", "lib", true, "German", true},
        {"German without help file", "[Application]\nCurLanguage=German\n", "lib", false, "German", true},
        {"German library missing", "[Application]\nCurLanguage=German\n", "", false, "German", false},
        {"German library broken", "[Application]\nCurLanguage=German\n", "junk", false, "German", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MakeFolder("run");
        if (*c.ini) WriteFileText(Ini(), c.ini);
        if (*c.dll || c.with_help) {
            ASSERT_TRUE(CreateDirectoryA(german.c_str(), nullptr));
            // The English name of the language in the folder too: the library beside "English" is never looked at.
            CreateDirectoryA((folder_ + "\\English").c_str(), nullptr);
        }
        if (std::string(c.dll) == "lib") {
            ASSERT_TRUE(CopyFileA(TestLibrary().c_str(), library.c_str(), FALSE));
            CopyFileA(TestLibrary().c_str(), (folder_ + "\\English\\cardflash_English.dll").c_str(), FALSE);
        }
        if (std::string(c.dll) == "junk") WriteFileText(library, "not a library");
        if (c.with_help) WriteFileText(help, "help");

        EXPECT_EQ(Run("win98"), 0u);
        EXPECT_EQ(CurLanguage(), c.language);
        std::string log = Log();
        EXPECT_TRUE(HasLine(log, std::string("Language: ") + c.language)) << log;
        // The log's first line comes from the resource module in use.
        EXPECT_EQ(log.substr(0, log.find('\r')), c.loaded ? kGermanCaption : kEnglishCaption);
        EXPECT_TRUE(HasLine(log, "Language library: " + (c.loaded ? library : std::string("none")))) << log;
        bool german_help = c.with_help && std::string(c.language) == "German";
        EXPECT_TRUE(HasLine(log, "Help file: " + (german_help ? help : own_help))) << log;
    }
}

// The program's model table knows the PC Card modems of the device database: a .PAK image can
// be for one of them.
TEST_F(CardflashTest, TheModelTableKnowsTheDatabasesModemCards) {
    HMODULE exe = LoadLibraryExA(Exe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    std::vector<std::string> parts;
    for (UINT id = 31500;; ++id) {
        char row[256] = {};
        if (LoadStringA(exe, id, row, sizeof(row)) <= 0) break;
        const char* comma = strchr(row, ',');
        ASSERT_NE(comma, nullptr) << row;
        parts.push_back(CharUpperA(const_cast<char*>(comma + 1)));
    }
    FreeLibrary(exe);
    for (const char* card : {"PCMCIA\\DORVEX-MODEM_56K-77C2", "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A"}) {
        bool known = false;
        for (const std::string& part : parts) known = known || std::string(card).find(part) != std::string::npos;
        EXPECT_TRUE(known) << card;
    }
}

TEST_F(CardflashTest, ALanguageWithAPathInItLoadsNothing) {
    // Each name, taken as a folder and a file name part, leads to German\German.dll and .hlp.
    std::string german = folder_ + "\\German";
    for (const char* name : {"x\\..\\German", "x/../German"}) {
        SCOPED_TRACE(name);
        MakeFolder("run");
        ASSERT_TRUE(CreateDirectoryA(german.c_str(), nullptr));
        // The folders the name passes through exist, so that the path leads somewhere.
        ASSERT_TRUE(CreateDirectoryA((folder_ + "\\x").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((german + "\\cardflash_x").c_str(), nullptr));
        ASSERT_TRUE(CopyFileA(TestLibrary().c_str(), (german + "\\German.dll").c_str(), FALSE));
        WriteFileText(german + "\\German.hlp", "help");
        WriteFileText(Ini(), std::string("[Application]\nCurLanguage=") + name + "\n");

        EXPECT_EQ(Run("win98"), 0u);
        EXPECT_EQ(CurLanguage(), name);  // kept as the user wrote it
        std::string log = Log();
        EXPECT_EQ(log.substr(0, log.find('\r')), kEnglishCaption);
        EXPECT_TRUE(HasLine(log, "Language library: none")) << log;
        EXPECT_TRUE(HasLine(log, "Help file: " + folder_ + "\\cardflash.HLP")) << log;
    }
}

TEST_F(CardflashTest, AnEmptyLanguageIsTheSystemsLanguage) {
    // ctest runs this case once more with a German system locale (LC_ALL of the Wine process).
    char system[512] = {};
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, system, sizeof(system));
    const char* unix_locale = getenv("LC_ALL");
    if (unix_locale && std::string(unix_locale).rfind("de_DE", 0) == 0) {
        ASSERT_STREQ(system, "German");
    }
    bool german = std::string(system) == "German";

    std::string library = folder_ + "\\German\\cardflash_German.dll";
    ASSERT_TRUE(CreateDirectoryA((folder_ + "\\German").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(TestLibrary().c_str(), library.c_str(), FALSE));
    WriteFileText(Ini(), "[Application]\nCurLanguage=\n");

    EXPECT_EQ(Run("win98"), 0u);
    EXPECT_EQ(CurLanguage(), system);
    std::string log = Log();
    EXPECT_EQ(log.substr(0, log.find('\r')), german ? kGermanCaption : kEnglishCaption);
    EXPECT_TRUE(HasLine(log, "Language library: " + (german ? library : std::string("none")))) << log;
}

TEST_F(CardflashTest, PortManagerIsHeldForTheProgramsLifeOnWindows9xOnly) {
    const std::string opened =
        "opened \\\\.\\Wendlow.vxd access 0xC0000000 share 0x0 disposition 3 attributes 0x4000000";
    for (const char* version : {"win95", "win98", "nt40"}) {
        SCOPED_TRACE(version);
        MakeFolder("run");
        UseStandinHost();
        EXPECT_EQ(Run(version), 0u);
        bool win9x = std::string(version) != "nt40";
        std::string report = StandinReport();
        // Without modems nothing else asks the driver: one open on Windows 9x, none on NT.
        EXPECT_EQ(report.find("opened "), win9x ? 0u : std::string::npos) << report;
        if (win9x) {
            EXPECT_TRUE(HasLine(report, opened)) << report;
        }
        EXPECT_EQ(report.find("opened ", 1), std::string::npos) << report;
        EXPECT_TRUE(HasLine(report, "port manager handles open: 0")) << report;  // closed at the end
        EXPECT_TRUE(HasLine(Log(), win9x ? "Port manager: open" : "Port manager: not open")) << Log();
    }
}

TEST_F(CardflashTest, SwitchesAMissingTranslationLacksAreTheProgramsOwn) {
    std::string dutch = folder_ + "\\Dutch";
    ASSERT_TRUE(CreateDirectoryA(dutch.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((winetest::ProgramFolder() + "\\cardflash_Dutch.dll").c_str(),
                          (dutch + "\\cardflash_Dutch.dll").c_str(), FALSE));
    struct {
        const char* args;
        const char* mode;
        int post_restart;
    } cases[] = {
        {"", "sheet", 0},  // an empty word would be found in any command line
        {"/tvl", "TVL", 0},
        {"/Flash_Both", "both adapters", 0},
        {"Upgrade", "sheet", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        WriteFileText(Ini(), "[Application]\nCurLanguage=Dutch\n");
        EXPECT_EQ(Run("win98", c.args), 0u);
        std::string log = Log();
        EXPECT_EQ(log.substr(0, log.find('\r')), "Dorvex Bijwerkprogramma");
        EXPECT_TRUE(HasLine(log, std::string("Mode: ") + c.mode)) << log;
        EXPECT_TRUE(HasLine(log, "Post-restart: " + std::to_string(c.post_restart))) << log;
    }
}
