#include "tests/e2e/scenario.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace e2e {

namespace {

const char RECV_FAILED[] = "recv() failed!\n";
const size_t ADDRESS_SHOWN_MAX = 19;  // the program keeps the first 19 characters of the address

const char* const SAME_KEYS_WITH_STORE = "a key is read the same way whether the store is on or off";
const char* const ONE_WINDOWS_LINK = "both Windows builds share the link code, and Wine runs are slow: the store-on one runs it";
const char* const WAITS_A_LIMIT = "waits out a time limit, the same code in both builds of a system: the store-on ones run it";
const char* const UTF8_NOT_A_KEY_UNDER_WINE = "under Wine's console a UTF-8 character typed on the terminal never reaches the program as a key";
const char* const NO_STORE_NO_FILE = "only the store-on builds make a data file";

// A row where the head misbehaves and the run fails by itself, the settings left as they were.
Scenario head_fault(const char* name, const std::vector<std::string>& head_options)
{
    return Scenario(name)
        .settings("[Settings]\nIPAddress=$A\nRange=20\n")
        .head(head_options)
        .shows("$A", 20, 3)
        .builds(LINUX_BUILDS | WINDOWS_STORE_ON, ONE_WINDOWS_LINK);
}

// What standard error is told of a head_fault row's failed receive, where it is no terminal.
std::string head_failure(const std::string& reason)
{
    return "Halvex_StoreData: $R (head $A port 4040, range 20 m, gain 3 dB)\n"
           "Halvex_StoreData: recv() failed, head $A port 4040: " + reason + "\n";
}

// A clean run with a key inside pass 17: two pings, then pass 17's packet.
void two_pings_and_a_pass(Expected& e) { e.pings(1, 2).pass().packet(0).prompt(); }

// A key that answers the prompt by itself: one key press ends the run.
Scenario key_alone(const char* name, const char* key, unsigned kinds, const char* why)
{
    return Scenario(name)
        .key(IN_PASS_17, key)
        .ends_on_the_key_alone()
        .screen(two_pings_and_a_pass)
        .status(0)
        .settings_after("[Settings]\nIPAddress=$A\nRange=30\nGain=3\n")
        .records(2)
        .builds(kinds, why);
}

// A key with a character, however many bytes the terminal sends for it: the prompt still waits for a second key.
Scenario one_key(const char* name, const char* key)
{
    return key_alone(name, key, LINUX_STORE_OFF | WINDOWS_STORE_OFF, SAME_KEYS_WITH_STORE).prompt_answered_with("x");
}

std::vector<Scenario> make_scenarios()
{
    return {
        // A clean run: a key inside pass 17 ends the loop after that pass, a second key answers the prompt,
        // the values used are written back and every ping is stored.
        Scenario("clean_run")
            .settings("[Settings]\nIPAddress=$A\nRange=40\nGain=7\n")
            .key(IN_PASS_17, "q")
            .shows("$A", 40, 7)
            .screen(two_pings_and_a_pass)
            .status(0)
            .settings_after("[Settings]\nIPAddress=$A\nRange=40\nGain=7\n")
            .records(2),
        // Out-of-range values are shown and written back replaced; the file's other content stays.
        Scenario("out_of_range_settings_replaced")
            .settings("; survey laptop\r\n[Settings]\r\nipaddress = $A\r\nRange=25\r\nGain=7dB\r\n\r\n[Display]\r\n"
                      "Colour=amber\r\n")
            .key(IN_PASS_17, "q")
            .shows("$A", 30, 7)
            .screen(two_pings_and_a_pass)
            .status(0)
            .settings_after("; survey laptop\r\n[Settings]\r\nipaddress=$A\r\nRange=30\r\nGain=7\r\n\r\n[Display]\r\n"
                            "Colour=amber\r\n")
            .records(2),

        // Arrow, function and navigation keys leave a second code that answers the prompt.
        key_alone("arrow_up", "\x1b[A", LINUX_STORE_OFF | WINDOWS_STORE_OFF, SAME_KEYS_WITH_STORE),
        key_alone("f1", "\x1bOP", LINUX_STORE_OFF | WINDOWS_STORE_OFF, SAME_KEYS_WITH_STORE),
        key_alone("f5", "\x1b[15~", LINUX_STORE_OFF | WINDOWS_STORE_OFF, SAME_KEYS_WITH_STORE),
        key_alone("home", "\x1b[H", LINUX_STORE_OFF | WINDOWS_STORE_OFF, SAME_KEYS_WITH_STORE),
        key_alone("page_down", "\x1b[6~", LINUX_STORE_OFF | WINDOWS_STORE_OFF, SAME_KEYS_WITH_STORE),
        // The Linux console's own F1 and F5, and Alt with a key (ESC, then the key's character, here of two
        // bytes): sequences of Linux terminals, which the Windows console gives as key events instead.
        key_alone("linux_console_f1", "\x1b[[A", LINUX_STORE_OFF, "a Linux terminal's sequence"),
        key_alone("linux_console_f5", "\x1b[[E", LINUX_STORE_OFF, "a Linux terminal's sequence"),
        key_alone("alt_e_acute", "\x1b\xC3\xA9", LINUX_STORE_OFF, "a Linux terminal's sequence"),
        // A character typed as several UTF-8 bytes.
        one_key("e_acute_is_one_key", "\xC3\xA9").builds(LINUX_STORE_OFF, UTF8_NOT_A_KEY_UNDER_WINE),
        one_key("smiling_face_is_one_key", "\xF0\x9F\x99\x82").builds(LINUX_STORE_OFF, UTF8_NOT_A_KEY_UNDER_WINE),
        // Esc alone is a key with a character. Windows gives the Esc key its character 27 too, but Wine's
        // console turns an ESC typed on the terminal into a key event with no character.
        one_key("escape_alone_is_one_key", "\x1b").builds(LINUX_STORE_OFF, "Wine's console reads ESC as a key without a character"),
        // Ctrl+S ends the loop instead of freezing the output; Ctrl+Q answers the prompt.
        one_key("ctrl_s_and_ctrl_q_are_keys", "\x13")
            .prompt_answered_with("\x11")
            .builds(LINUX_STORE_OFF, "output flow control is the Linux terminal's; under Wine, on a loaded "
                                     "machine, a Ctrl+S was seen never to reach the program"),

        // Ctrl+C ends the run at once, without the prompt and without writing the settings. (Windows reports
        // STATUS_CONTROL_C_EXIT, Wine 0: the status is not checked there.)
        Scenario("ctrl_c_ends_the_run_at_once")
            .settings("[Settings]\nIPAddress=$A\nRange=25\n")
            .head({"--delay-ms", "20"})
            .key(AFTER_PING_1, "\x03")
            .killed_by(SIGINT)
            .screen_starts([](Expected& e) { e.pings(1, 1); })
            .builds(LINUX_STORE_OFF | WINDOWS_STORE_OFF, "a run cut short at an unknown ping: records are for the failure rows"),
        // A settings file that is there but cannot be read is not a missing one: the run ends before connecting,
        // and the file is left as it is.
        Scenario("settings_file_unreadable")
            .settings_unreadable()
            .screen([](Expected& e) {
                e.only("Halvex_StoreData.INI: cannot read: Permission denied; the run does not start without the "
                       "settings it holds (remove it to use the defaults)\n")
                    .prompt();
            })
            .builds(LINUX_STORE_ON, "Windows keeps a file from a program by holding it: the backend check has that"),
        // Nothing listening: the connect fails, no data file is made. At the key read Ctrl+C is an ordinary key.
        Scenario("connect_refused")
            .settings("[Settings]\nIPAddress=$A\nGain=99\n")
            .no_head()
            .prompt_answered_with("\x03")
            .on_windows_prompt_answered_with("x", "under Wine, Ctrl+C at the prompt ends the program with status 0")
            .screen([](Expected& e) { e.text("\nconnect() failed!\n").prompt(); }),
        // An address longer than 19 characters keeps its first 19, and fails to connect.
        Scenario("long_address_is_cut")
            .settings("[Settings]\nIPAddress=$A.1234567890123\n")
            .no_head()
            .shows("$A.1234567890123", 30, 3)
            .screen([](Expected& e) { e.text("\nconnect() failed!\n").prompt(); })
            .builds(LINUX_STORE_OFF | WINDOWS_STORE_OFF, "the address is read the same whether the store is on or off"),
        // A zero-padded address is read as decimal, as shown (as octal, 0NN with N of 8 or more converts to nothing).
        Scenario("zero_padded_address_is_decimal")
            .settings("[Settings]\nIPAddress=$Z\n")
            .head({"--fault", "close@9"})
            .shows("$Z", 30, 3)
            .screen([](Expected& e) { e.pings(1, 1).fails_with(RECV_FAILED); })
            .records(1)
            .builds(LINUX_BUILDS | WINDOWS_STORE_OFF, "the address is read the same whether the store is on or off"),
        // A head that answers once a second is slow, not failing; a key before the first ping leaves no data file.
        Scenario("slow_head_key_before_the_first_ping")
            .settings("[Settings]\nIPAddress=$A\nRange=20\n")
            .head({"--delay-ms", "1000"})
            .key(AWAITING_PACKET_2, "q")
            .shows("$A", 20, 3)
            .screen([](Expected& e) { e.packets({0, 1, 2}).prompt(); })
            .status(0)
            .settings_after("[Settings]\nIPAddress=$A\nRange=20\nGain=3\n"),
        // Dropped packets give no trace and the same packet is asked for again; a wrong number is traced, not counted.
        Scenario("dropped_and_wrong_numbered_packets")
            .settings("[Settings]\nIPAddress=$A\nRange=5\n")
            .shows("$A", 5, 3)
            .head({"--fault", "bad-header@2", "--fault", "bad-end@3", "--fault", "wrong-number@5", "--fault", "close@12"})
            .screen([](Expected& e) {
                e.packets({0}).pass().pass().packets({1, 3, 2, 3, 4, 5, 6, 7}).ping(1).fails_with(RECV_FAILED);
            })
            .records(1),
        // Packets arriving in many small pieces are taken whole.
        Scenario("many_small_pieces")
            .settings("[Settings]\nIPAddress=$A\nGain=12\n")
            .shows("$A", 30, 12)
            .head({"--split", "100", "--split-gap-ms", "1", "--fault", "close@17"})
            .screen([](Expected& e) { e.pings(1, 2).fails_with(RECV_FAILED); })
            .records(2),

        // Each way the head fails ends the run with status 1, the settings untouched and every completed ping
        // stored; a head that closes or resets is a receive failure at once.
        head_fault("close_before_first_packet", {"--fault", "close@1"})
            .screen([](Expected& e) { e.fails_with(RECV_FAILED); }),
        head_fault("reset_before_first_packet", {"--fault", "reset@1"})
            .screen([](Expected& e) { e.fails_with(RECV_FAILED); }),
        head_fault("close_mid_ping", {"--fault", "close@12"})
            .screen([](Expected& e) { e.pings(1, 1).packets({0, 1, 2}).fails_with(RECV_FAILED); })
            .records(1),
        head_fault("reset_mid_ping", {"--fault", "reset@12"})
            .screen([](Expected& e) { e.pings(1, 1).packets({0, 1, 2}).fails_with(RECV_FAILED); })
            .records(1)
            .errors(head_failure("Connection reset by peer")),
        head_fault("close_at_ping_boundary", {"--fault", "close@17"})
            .screen([](Expected& e) { e.pings(1, 2).fails_with(RECV_FAILED); })
            .records(2),
        head_fault("reset_at_ping_boundary", {"--fault", "reset@17"})
            .screen([](Expected& e) { e.pings(1, 2).fails_with(RECV_FAILED); })
            .records(2),
        head_fault("close_with_part_of_a_packet_sent", {"--fault", "truncate@12"})
            .screen([](Expected& e) { e.pings(1, 1).packets({0, 1, 2}).fails_with(RECV_FAILED); })
            .records(1)
            .errors(head_failure("the head closed the connection")),
        head_fault("reset_with_part_of_a_packet_sent", {"--fault", "truncate-reset@12"})
            .screen([](Expected& e) { e.pings(1, 1).packets({0, 1, 2}).fails_with(RECV_FAILED); })
            .records(1)
            .errors(head_failure("Connection reset by peer")),
        head_fault("silent_from_the_start", {"--fault", "silent@1"})
            .screen([](Expected& e) { e.fails_with(RECV_FAILED); })
            .ends_after(SILENCE_LIMIT_MS)
            .builds(STORE_ON_BUILDS, WAITS_A_LIMIT),
        head_fault("stops_answering", {"--fault", "silent@10"})
            .screen([](Expected& e) { e.pings(1, 1).packets({0}).fails_with(RECV_FAILED); })
            .records(1)
            .ends_after(SILENCE_LIMIT_MS),
        head_fault("short_reply", {"--fault", "short@10"})
            .screen([](Expected& e) { e.pings(1, 1).packets({0}).fails_with(RECV_FAILED); })
            .records(1)
            .ends_after(SILENCE_LIMIT_MS)
            .builds(STORE_ON_BUILDS, WAITS_A_LIMIT),
        head_fault("garbage_reply_is_dropped", {"--fault", "garbage@3", "--fault", "close@12"})
            .screen([](Expected& e) {
                e.packets({0, 1}).pass().packets({2, 3, 4, 5, 6, 7}).ping(1).packets({0, 1}).fails_with(RECV_FAILED);
            })
            .records(1),
        // The seven extra bytes put the next reply out of step; it fails the check and the rest is dropped.
        head_fault("long_reply_costs_one_pass", {"--fault", "long@3", "--fault", "close@13"})
            .screen([](Expected& e) {
                e.packets({0, 1, 2}).pass().packets({3, 4, 5, 6, 7}).ping(1).packets({0, 1, 2}).fails_with(RECV_FAILED);
            })
            .records(1),
        // A second reply keeps the program one reply behind: every packet arrives twice, the ping still completes.
        head_fault("double_reply_is_read_as_wrong_numbers", {"--fault", "double@3", "--fault", "close@15"})
            .screen([](Expected& e) {
                e.packets({0, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7}).ping(1).packets({7, 0}).fails_with(RECV_FAILED);
            })
            .records(1),
        // 52 bytes every 2 s: never silent for long, but no packet is whole within the limit.
        head_fault("drips_bytes", {"--split", "20", "--split-gap-ms", "2000"})
            .screen([](Expected& e) { e.fails_with(RECV_FAILED); })
            .ends_after(PACKET_LIMIT_MS)
            .builds(STORE_ON_BUILDS, WAITS_A_LIMIT),

        // A file size limit reached mid-run leaves whole records only, and the total shown stops growing.
        Scenario("file_size_limit_keeps_whole_records")
            .head({"--fault", "close@41"})
            .file_size_limit(3 * RECORD + RECORD / 2)
            .screen([](Expected& e) { e.pings(1, 5).fails_with(RECV_FAILED); })
            .records(3)
            .builds(STORE_ON_BUILDS, NO_STORE_NO_FILE),
        // Under a file size limit, with its signal at the default, the write-back fails without harm: the old
        // settings file stays and no temporary file is left.
        Scenario("file_size_limit_keeps_old_settings")
            .settings("[Settings]\nIPAddress=$A\nRange=20\n")
            .key(IN_PASS_17, "q")
            .file_size_limit(16)
            .shows("$A", 20, 3)
            .screen(two_pings_and_a_pass)
            .status(0)
            .builds(LINUX_STORE_OFF, "Wine itself cannot start under a limit of 16 bytes"),
        // A run takes the next free number of the day; files already there are kept and gaps are not filled.
        Scenario("next_free_number_of_the_day")
            .existing("$T-0007.QKV", "survey of yesterday evening")
            .existing("01JAN2020-0042.QKV", "another day")
            .head({"--fault", "close@9"})
            .screen([](Expected& e) { e.pings(1, 1).fails_with(RECV_FAILED); })
            .records(1)
            .first_data_file_number(8)
            .builds(STORE_ON_BUILDS, NO_STORE_NO_FILE),
        // Without any terminal the prompt does not wait: a failure ends the run by itself. Standard error, no
        // terminal either, is told what the run records to and why the call failed; standard output goes in
        // 512-byte blocks from the start all the same.
        Scenario("no_terminal_never_waits_for_a_key")
            .head({"--fault", "stall:3000@20", "--fault", "close@21"})
            .without_terminal()
            .output_in_blocks([](Expected& e) { e.pings(1, 2).packets({0, 1, 2}).pass(); })
            .screen([](Expected& e) { e.pings(1, 2).packets({0, 1, 2, 3}).fails_with(RECV_FAILED); })
            .errors("Halvex_StoreData: $R (head $A port 4040, range 30 m, gain 3 dB)\n"
                    "Halvex_StoreData: recv() failed, head $A port 4040: the head closed the connection\n")
            .records(2)
            .ends_after(3000)
            .builds(LINUX_BUILDS, "under Wine the program always has Wine's console, and Wine's C runtime writes "
                                  "redirected output at every line end"),
        Scenario("no_terminal_explains_a_failed_connect")
            .settings("[Settings]\nIPAddress=$A\nRange=35\nGain=7dB\n")
            .no_head()
            .without_terminal()
            .shows("$A", 30, 7)
            .screen([](Expected& e) { e.text("\nconnect() failed!\n").prompt(); })
            .errors("Halvex_StoreData.INI: Range=35 replaced by 30 m\nHalvex_StoreData: connect() failed, head $A port "
                    "4040: Connection refused; check IPAddress in Halvex_StoreData.INI\n")
            .builds(LINUX_STORE_OFF, "the settings and the connect are the same whether the store is on or off"),
    };
}

// The address with every part written as three digits: 127.1.2.14 is 127.001.002.014.
std::string zero_padded(const std::string& address)
{
    unsigned parts[4] = {};
    sscanf(address.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
    char text[20];
    snprintf(text, sizeof text, "%03u.%03u.%03u.%03u", parts[0], parts[1], parts[2], parts[3]);
    return text;
}

std::string filled(const std::string& text, const std::string& address)
{
    return replaced(replaced(replaced(text, "$Z", zero_padded(address)), "$A", address), "$T", today());
}

int build_number(BuildKind kind)
{
    return kind == LINUX_STORE_OFF ? 1 : kind == LINUX_STORE_ON ? 2 : kind == WINDOWS_STORE_OFF ? 3 : 4;
}

// Rows and builds never share an address, and keep clear of 127.0.x.y, which the other tests use.
std::string row_address(size_t row, BuildKind kind)
{
    return "127.1." + std::to_string(build_number(kind)) + "." + std::to_string(row + 10);
}

std::vector<std::string> comment_lines(const std::string& text)
{
    std::vector<std::string> comments;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (text[start] == ';') comments.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return comments;
}

// Watches redirected output until the program ends: every size it had before its last must be whole 512-byte blocks,
// and the one that stood longest (the head holding its reply) that of the whole blocks of held.
ExitInfo wait_exit_in_blocks(Client& client, const std::string& path, size_t held, int timeout_ms)
{
    long long started = now_ms(), since = started, longest = -1;
    off_t size = 0, held_size = -1, first_part = 0;
    ExitInfo exit;
    for (struct stat status; !(exit = client.wait_exit(5)).ended && now_ms() - started < timeout_ms;) {
        if (stat(path.c_str(), &status) == 0 && status.st_size != size) size = status.st_size, since = now_ms();
        if (first_part == 0 && size % 512 != 0) first_part = size;
        if (now_ms() - since > longest) longest = now_ms() - since, held_size = size;
    }
    struct stat status = {};
    stat(path.c_str(), &status);
    EXPECT_TRUE(first_part == 0 || first_part == status.st_size) << first_part << " bytes, a block not yet full";
    EXPECT_EQ(static_cast<off_t>(held / 512 * 512), held_size) << "while the head held its reply";
    return exit;
}

std::string moment_text(KeyMoment moment, bool storing)
{
    if (moment == AFTER_PING_1) return " --> Ping 1\n";
    if (moment == AWAITING_PACKET_2) return AWAITING_PACKET_2_SHOWN;
    return storing ? " - 16 kbytes\n\nSend Switches" : IN_PASS_17_SHOWN;
}

}  // namespace

const std::vector<Scenario>& scenarios()
{
    static const std::vector<Scenario> rows = make_scenarios();
    return rows;
}

std::vector<ScenarioCase> scenario_cases(const std::vector<Build>& builds)
{
    std::vector<ScenarioCase> cases;
    for (size_t row = 0; row < scenarios().size(); ++row) {
        for (const Build& build : builds) {
            if (scenarios()[row].build_kinds & build.kind) cases.push_back({row, build});
        }
    }
    return cases;
}

std::string scenario_case_name(const testing::TestParamInfo<ScenarioCase>& info)
{
    return std::string(info.param.build.name) + "_" + scenarios()[info.param.row].name;
}

void run_scenario(const ScenarioCase& which)
{
    const Scenario& row = scenarios()[which.row];
    const Build& build = which.build;
    const bool windows = (build.kind & (WINDOWS_STORE_OFF | WINDOWS_STORE_ON)) != 0;
    const bool storing = (build.kind & STORE_ON_BUILDS) != 0 && row.record_count > 0;
    const std::string address = row_address(which.row, build.kind);
    TempDir dir, out;
    const std::string settings = filled(row.settings_text, address);
    write_file(dir.file(SETTINGS), settings);
    std::vector<std::string> left = {SETTINGS};
    for (const auto& file : row.present) {
        write_file(dir.file(filled(file.first, address)), file.second);
        left.push_back(filled(file.first, address));
    }
    std::vector<std::string> head_options = {"--once"};
    head_options.insert(head_options.end(), row.head_options.begin(), row.head_options.end());
    if (row.moment == IN_PASS_17) {
        head_options.insert(head_options.end(), {"--fault", "stall:" + std::to_string(build.hold_pass_17_ms) + "@17"});
    }
    std::unique_ptr<HeadSim> head;
    if (row.head_listens) {
        head.reset(new HeadSim(address, head_options));
        ASSERT_TRUE(head->ready()) << "another test listens on " << address;
    }

    ClientOptions options = build.start;
    options.with_terminal = row.terminal;
    options.keep_terminal = row.terminal && !windows;
    if (windows || !row.terminal) options.stdout_path = out.file(SCREEN);
    if (!row.errors_text.empty()) options.stderr_path = out.file("errors.txt");
    if (row.unreadable) {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as a user who may not read the file";
        ASSERT_EQ(0, chmod(dir.file(SETTINGS).c_str(), 0));
        ASSERT_EQ(0, chmod(dir.path().c_str(), 0711));
        options.as_nobody = true;
    }
    options.file_size_limit = row.size_limit;
    char data_file[32];
    snprintf(data_file, sizeof data_file, "%s-%04d.QKV", today().c_str(), row.data_file_number);
    const int limit_ms = windows ? row.windows_limit_ms : row.limit_ms;

    long long started = now_ms();
    Client client(dir.path(), options);
    ShownText shown(client, options.stdout_path, windows);
    if (row.moment != NO_KEY) {
        ASSERT_TRUE(shown.wait_for(moment_text(row.moment, storing), 20000)) << shown.now();
        client.type(row.typed);
    }
    Expected expected(filled(row.shown_address, address).substr(0, ADDRESS_SHOWN_MAX), row.shown_range, row.shown_gain);
    // Standard error shows on the terminal of a Linux build.
    std::string write_failure = std::string(data_file) + ": cannot write: File too large; pings are not recorded until "
                                                          "it can be written again\n";
    if (storing) expected.storing(data_file, row.record_count, !windows && row.size_limit > 0 ? write_failure : "");
    Expected held = expected;
    ExitInfo exit;
    long long took = 0;
    if (row.held_text) {
        row.held_text(held);
        exit = wait_exit_in_blocks(client, options.stdout_path, held.str().size(), limit_ms + 10000);
        took = now_ms() - started;
    } else if (!row.terminal || row.exit_signal != 0 || row.prompt_key.empty()) {
        exit = client.wait_exit(row.terminal ? 8000 : limit_ms + 10000);
        took = now_ms() - started;
    } else {
        ASSERT_TRUE(shown.wait_for(PROMPT, limit_ms + 15000)) << shown.now();
        took = now_ms() - started;
        if (row.moment != NO_KEY) exit = client.wait_exit(700);
        EXPECT_FALSE(exit.ended) << "the key that ended the run also answered the prompt";
        if (!exit.ended) {
            if (!windows) client.wait_key_read();  // Ctrl+C is a key only once the key read has begun
            client.type(windows ? row.windows_prompt_key : row.prompt_key);
            exit = client.wait_exit();
        }
    }
    ASSERT_TRUE(exit.ended) << shown.now();
    if (row.exit_signal != 0) {
        if (!windows) {
            EXPECT_EQ(row.exit_signal, exit.signal);
        }
        EXPECT_EQ(std::string::npos, shown.now().find(PROMPT));
    } else {
        EXPECT_EQ(0, exit.signal);
        EXPECT_EQ(row.exit_status, exit.status);
    }
    if (row.moment == NO_KEY) {
        EXPECT_GE(took, limit_ms - 1000);
        EXPECT_LT(took, limit_ms + (windows ? 8000 : 5000));
    }

    row.screen_text(expected);
    int bare = 0;
    std::string screen = shown.now(&bare);
    EXPECT_EQ(0, bare) << "line ends that are not CR LF";
    if (row.whole_screen) {
        EXPECT_EQ(expected.str(), screen);
    } else {
        EXPECT_EQ(0u, screen.find(expected.str())) << screen;
    }

    // Wine rewrites the whole file where Windows edits it in place: there the values and comments count.
    std::string settings_now = read_file(dir.file(SETTINGS));
    std::string settings_expected = row.written ? filled(row.settings_written, address) : settings;
    if (windows && row.written) {
        EXPECT_EQ(profile_values(settings_expected), profile_values(settings_now)) << settings_now;
        EXPECT_EQ(comment_lines(settings_expected), comment_lines(settings_now)) << settings_now;
    } else {
        EXPECT_EQ(settings_expected, settings_now);
    }

    if (storing) {
        left.push_back(data_file);
        std::string data = read_file(dir.file(data_file));
        EXPECT_EQ(row.record_count * RECORD, data.size());
        for (size_t at = 0; at + RECORD <= data.size(); at += RECORD) {
            EXPECT_EQ(row.shown_gain, data[at + RECORD_GAIN_AT]) << "record " << at / RECORD + 1;
            EXPECT_EQ(row.shown_range * 6 / 10, data[at + RECORD_RANGE_AT]) << "the range code, in units of 10/6 m";
            EXPECT_EQ("IUX", data.substr(at + RECORD_IMAGE_AT, 3)) << "packet 7's header";
        }
        std::string listing;
        EXPECT_EQ(0, qkvdump(dir.file(data_file), &listing)) << listing;
    }
    if (!row.errors_text.empty()) {
        std::string recording = (build.kind & STORE_ON_BUILDS) ? std::string("recording to ") + data_file
                                                                : "recording nothing: this build stores no data file";
        int bare = 0;
        std::string said = read_file(options.stderr_path);
        if (windows) said = fold_crlf(said, &bare);
        EXPECT_EQ(filled(replaced(row.errors_text, "$R", recording), address), said);
    }
    for (const auto& file : row.present) EXPECT_EQ(file.second, read_file(dir.file(filled(file.first, address))));
    std::vector<std::string> found = list_dir(dir.path());
    std::sort(found.begin(), found.end());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, found) << "the files of the working directory afterwards";
    if (options.keep_terminal && row.exit_signal == 0) {
        EXPECT_EQ("", client.unread_keys()) << "keys left for the shell";
    }
}

}  // namespace e2e
