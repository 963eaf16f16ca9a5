// The reduction: each correction against a figure worked by hand (the
// formulas of docs/formats.md), their order, the flags, the spike stream,
// the three files' parsers and the offset of the sounding's position.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "reduction/motion.h"
#include "reduction/reduction.h"
#include "reduction/spike.h"

namespace {

SoundSpeedProfile profile;
WaterLevelSeries series;
EditList edits;

void collect(void* context, const FieldsProblem* problem)
{
    *static_cast<std::string*>(context) += std::string(problem->text) + "\n";
}

std::string utc(int64_t ms)
{
    char text[FIELDS_TIME_TEXT_SIZE];
    fields_utc_text(ms, text);
    return text;
}

int64_t at(const char* time)
{
    int64_t ms = 0;
    EXPECT_TRUE(fields_utc_time(time, false, &ms)) << time;
    return ms;
}

}  // namespace

TEST(ReductionFields, NumbersAndTimesWhateverTheLocale)
{
    struct Number {
        const char* text;
        bool decimal_comma, ok;
        double value;
    } numbers[] = {
        {"1480.25", false, true, 1480.25}, {"+0.31", false, true, 0.31},  {"-12", false, true, -12},
        {".5", false, true, 0.5},          {"1.5e3", false, true, 1500},  {"1480,25", true, true, 1480.25},
        {"1480,25", false, false, 0},      {"1,2,3", true, false, 0},     {"inf", false, false, 0},
        {"nan", false, false, 0},          {"0x10", false, false, 0},     {"1e999", false, false, 0},
        {"", false, false, 0},             {"12 m", false, false, 0},     {"--1", false, false, 0},
    };
    for (const Number& n : numbers) {
        double value = 0;
        EXPECT_EQ(n.ok, fields_number(n.text, n.decimal_comma, &value)) << n.text;
        if (n.ok) { EXPECT_DOUBLE_EQ(n.value, value) << n.text; }
    }
    struct Time {
        const char* text;
        bool zone_optional;
        const char* utc;  // "" for refused
    } times[] = {
        {"2026-12-08T09:00:00Z", false, "2026-12-08T09:00:00.000Z"},
        {"2026-12-08 09:00", true, "2026-12-08T09:00:00.000Z"},
        {"2026-12-08 09:00", false, ""},
        {"2026-12-08T10:00:00.1234+01:00", false, "2026-12-08T09:00:00.123Z"},
        {"2026-12-08T04:30:00-0430", false, "2026-12-08T09:00:00.000Z"},
        {"2026-12-08T09:00:00+01", false, "2026-12-08T08:00:00.000Z"},
        {"2026-12-31T23:59:59.9996Z", false, "2027-01-01T00:00:00.000Z"},
        {"2028-02-29T00:00:00Z", false, "2028-02-29T00:00:00.000Z"},
        {"1969-12-31T23:59:59Z", false, "1969-12-31T23:59:59.000Z"},
        {"2026-02-29T00:00:00Z", false, ""},
        {"2026-12-08T24:00:00Z", false, ""},
        {"2026-12-08T09:00:00+01:", false, ""},
        {"2026-12-08T09:00:00ZZ", false, ""},
        {"08/12/2026 09:00", true, ""},
    };
    for (const Time& t : times) {
        int64_t ms = 0;
        bool ok = fields_utc_time(t.text, t.zone_optional, &ms);
        EXPECT_EQ(t.utc[0] != 0, ok) << t.text;
        if (ok) { EXPECT_EQ(t.utc, utc(ms)) << t.text; }
    }
}

namespace {

enum Kind { PROFILE, LEVELS, EDITS };

// What a parser kept, in short: "depth@speed", "time=level", or "action file:first-last" and "action from~to".
std::string summary(Kind kind)
{
    std::string kept;
    char item[200];
    int count = kind == PROFILE ? profile.count : kind == LEVELS ? series.count : edits.count;
    for (int i = 0; i < count; ++i) {
        if (kind == PROFILE) snprintf(item, sizeof item, "%g@%g", profile.point[i].depth_m, profile.point[i].speed_m_s);
        if (kind == LEVELS) snprintf(item, sizeof item, "%s=%g", utc(series.point[i].utc_ms).c_str(), series.point[i].level_m);
        if (kind == EDITS) {
            const Edit* e = &edits.edit[i];
            const char* action = e->action == EDIT_REJECT ? "reject" : "accept";
            if (e->by_time) snprintf(item, sizeof item, "%s %s~%s", action, utc(e->from_ms).c_str(), utc(e->to_ms).c_str());
            else snprintf(item, sizeof item, "%s %s:%ld-%ld", action, edits.file[e->file].name, e->first_record, e->last_record);
            snprintf(item + strlen(item), sizeof item - strlen(item), " (%s)", e->reason);
        }
        kept += (kept.empty() ? "" : " ") + std::string(item);
    }
    return kept;
}

}  // namespace

// Each parser's good lines kept, each bad line said with its number and why, never skipped unsaid.
TEST(ReductionFiles, GoodLinesKeptBadLinesSaid)
{
    struct Case {
        const char* name;
        Kind kind;
        std::string text;
        bool usable;
        const char* kept;
        const char* said;  // the problems, each line's start
    } cases[] = {
        {"cast as specified", PROFILE, "depth_m,sound_speed_m_s\n0.5,1480.2\n10,1490\n", true, "0.5@1480.2 10@1490", ""},
        {"probe export: BOM, CRLF, quoted names, other columns, comments", PROFILE,
         "\xEF\xBB\xBF# cast 3\r\n\"Time\",\"Depth (m)\",\"Temperature\",\"Sound Velocity (m/s)\"\r\n"
         "09:00,1.0,12.1,1485.5\r\n\r\n09:01,2.0,12.0,1485.1\r\n",
         true, "1@1485.5 2@1485.1", ""},
        {"semicolons and decimal commas", PROFILE, "Depth;SV\n1,5;1479,9\n2,5;1479,5\n", true, "1.5@1479.9 2.5@1479.5", ""},
        {"tabs, lone CRs", PROFILE, "depth\tsound_speed\r1\t1500\r2\t1501", true, "1@1500 2@1501", ""},
        {"bad points said, the way up left", PROFILE,
         "depth_m,sound_speed_m_s\n1,1480\n2,abc\n3,4860\n-1,1480\n4\n5,1481\n4,1481\n,\n", true, "1@1480 5@1481",
         "line 3: sound speed \"abc\"\nline 4: sound speed \"4860\"\nline 5: depth \"-1\"\nline 6: 1 fields\n"
         "line 8: depth 4.000 m is not below line 7's\nline 9: depth \"\""},
        {"no speed column: said once, the lines after tried quietly", PROFILE, "depth_m,temperature\n1,12\n",
         false, "", "line 1: the header names no sound speed column\nno header line"},
        {"nothing", PROFILE, "", false, "", "no header line"},
        {"series as specified", LEVELS, "time,level_m\n2026-12-08T09:00:00Z,1.25\n2026-12-08T09:06:00Z,-0.5\n", true,
         "2026-12-08T09:00:00.000Z=1.25 2026-12-08T09:06:00.000Z=-0.5", ""},
        {"gauge service: Date Time, Water Level, more columns, a gap", LEVELS,
         "Date Time, Water Level, Sigma, O or I (for verified), F, R, L, Quality\n"
         "2026-12-08 09:00,1.102,0.003,0,0,0,0,v\n2026-12-08 09:06,,,,,,,\n2026-12-08 09:12,1.143,0.003,0,0,0,0,v\n",
         true, "2026-12-08T09:00:00.000Z=1.102 2026-12-08T09:12:00.000Z=1.143", "line 3: no level: a gap in the record"},
        {"date and time apart, slashes, verified before predicted", LEVELS,
         "Date,Time (GMT),Predicted (m),Verified (m)\n2026/12/08,09:00,1.0,1.1\n", true,
         "2026-12-08T09:00:00.000Z=1.1", ""},
        {"offsets, semicolons, decimal commas", LEVELS, "Time;Level\n2026-12-08T10:00:00+01:00;1,5\n", true,
         "2026-12-08T09:00:00.000Z=1.5", ""},
        {"semicolons with a comma in brackets, a name whose unit is bracketed", LEVELS,
         "Date;Time;Level (m, LAT)\n2026-12-08;09:00;1,5\n", true, "2026-12-08T09:00:00.000Z=1.5", ""},
        {"names that end in ft but name no feet", LEVELS, "Datum shift,time,level_m,draft\n0.2,2026-12-08T09:00Z,1,3\n",
         true, "2026-12-08T09:00:00.000Z=1", ""},
        {"fill values, disorder, bad times said", LEVELS,
         "time,level_m\n2026-12-08T09:00:00Z,1\n2026-12-08T08:00:00Z,1\n2026-12-08T10:00:00Z,-999\n"
         "2026-13-08T10:00:00Z,1\n2026-12-08T11:00:00Z,NaN\n2026-12-08T12:00:00Z,2\n2026-12-08T12:00:00Z,3\n",
         true, "2026-12-08T09:00:00.000Z=1 2026-12-08T12:00:00.000Z=2",
         "line 3: its time is not after line 2's\nline 4: level \"-999\"\nline 5: \"2026-13-08T10:00:00Z\"\n"
         "line 6: level \"NaN\"\nline 8: its time is not after line 7's"},
        {"local times refused", LEVELS, "Date Time (LST/LDT),Prediction\n", false, "",
         "line 1: the header says its times are local\nnothing read after the header refused on line 1"},
        {"feet refused, once", LEVELS, "# gauge\ntime,LevelFt\n2026-12-08T09:00Z,1\ntime,level (feet)\n", false, "",
         "line 2: the header says its levels are in feet\nnothing read after the header refused on line 2"},
        {"edits of every kind", EDITS,
         "# made by hand\nedit-list 1\nreject 08DEC2026-0003.QKV 120 fish under the boat\n"
         "accept /survey/08dec2026-0003.qkv 130-145   a wreck  \n"
         "reject \"my file.QKV\" 7 renamed\nreject 2026-12-08T09:05:00Z 2026-12-08T10:06:30+01:00 drifting\n",
         true,
         "reject 08DEC2026-0003.QKV:120-120 (fish under the boat) accept 08DEC2026-0003.QKV:130-145 (a wreck) "
         "reject my file.QKV:7-7 (renamed) reject 2026-12-08T09:05:00.000Z~2026-12-08T09:06:30.000Z (drifting)",
         ""},
        {"bad edits said", EDITS,
         "edit-list 1\ndelete a.QKV 1 no\nreject a.QKV 0 zero\nreject a.QKV 5-4 backwards\nreject a.QKV 1\n"
         "reject a.QKV 1-99999999999 huge\nreject 2026-12-08T10:00:00Z 2026-12-08T09:00:00Z backwards\n"
         "reject \"a.QKV 1 open quote\nreject a.QKV 1 bell \x07 rings\nreject a.QKV\n",
         true, "",
         "line 2: \"delete\" is neither\nline 3: \"0\" is no record\nline 4: \"5-4\"\nline 5: no reason given\n"
         "line 6: \"1-99999999999\"\nline 7: \"2026-12-08T09:00:00Z\" is no UTC time at or after\nline 8: an edit names\n"
         "line 9: a control character\nline 10: an edit names"},
        {"no first line", EDITS, "reject a.QKV 1 why\n", false, "",
         "line 1: an edit list starts with the line \"edit-list 1\"\nno \"edit-list 1\" line"},
    };
    for (const Case& c : cases) {
        std::string said;
        bool usable = c.kind == PROFILE  ? sound_speed_read(&profile, c.text.data(), c.text.size(), collect, &said)
                      : c.kind == LEVELS ? water_level_read(&series, c.text.data(), c.text.size(), collect, &said)
                                         : edits_read(&edits, c.text.data(), c.text.size(), collect, &said);
        EXPECT_EQ(c.usable, usable) << c.name << "\n" << said;
        EXPECT_EQ(c.kept, summary(c.kind)) << c.name;
        // Each problem said starts as the row says, in order.
        std::string expected = c.said;
        size_t from = 0, said_at = 0;
        while (from < expected.size()) {
            size_t end = expected.find('\n', from);
            if (end == std::string::npos) end = expected.size();
            std::string start = expected.substr(from, end - from);
            EXPECT_EQ(start, said.substr(said_at, start.size())) << c.name << "\n" << said;
            said_at = said.find('\n', said_at);
            said_at = said_at == std::string::npos ? said.size() : said_at + 1;
            from = end + 1;
        }
        EXPECT_EQ(said.size(), said_at) << c.name << ": more said\n" << said;
    }
}

// The distance through a cast's layers: t = d / 1500 spent from the transducer's depth down, the speed
// linear with depth in each layer: z(t) = z0 + c0 (e^(g t) - 1) / g; the first speed above the cast, the
// last below it.
TEST(ReductionSoundSpeed, ThroughTheLayersByTravelTime)
{
    struct Case {
        const char* name;
        std::vector<double> depths, speeds;
        double start_m, nominal_m, expected_m;
    } cases[] = {
        {"the nominal speed throughout", {0, 50}, {1500, 1500}, 0.6, 20, 20},
        {"one point: a constant speed", {3}, {1450}, 0.6, 15, 14.5},
        {"a gradient of 1/s from the surface", {0, 20}, {1500, 1520}, 0, 15, 15.075250626},
        {"from 5 m down, past the cast's last point", {0, 20}, {1500, 1520}, 5, 15, 15.125496281},
        {"through the cast and below its last point", {0, 10}, {1480, 1520}, 0, 30, 30.266066109},
        {"the transducer below the cast", {0, 10}, {1480, 1520}, 50, 15, 15.2},
        {"the cast starting below the transducer", {5, 100}, {1460, 1460}, 0, 15, 14.6},
        {"no distance", {0, 20}, {1500, 1520}, 0.6, 0, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(sound_speed_profile_of(&profile, c.depths.data(), c.speeds.data(), static_cast<int>(c.depths.size())));
        EXPECT_NEAR(c.expected_m, sound_speed_through(&profile, c.start_m, c.nominal_m), 1e-8) << c.name;
    }
    EXPECT_DOUBLE_EQ(14.5, sound_speed_scaled(15, 1450));
    const double bad_depths[] = {0, 10, 10}, bad_speeds[] = {1500, 1500, 1500}, slow[] = {1500, 1200};
    EXPECT_FALSE(sound_speed_profile_of(&profile, bad_depths, bad_speeds, 3));
    EXPECT_FALSE(sound_speed_profile_of(&profile, bad_depths, slow, 2));
    EXPECT_FALSE(sound_speed_profile_of(&profile, bad_depths, bad_speeds, 0));
}

// A level at the series' points, between them, never across a gap of more than an hour nor past the ends;
// a motion track the same, the short way round for angles, begun anew when its clock steps back.
TEST(ReductionInterpolation, EdgesAndGaps)
{
    std::string levels = "time,level_m\n2026-12-08T09:00:00Z,1\n2026-12-08T10:00:00Z,2\n"
                         "2026-12-08T12:00:00Z,3\n2026-12-08T12:30:00Z,2.5\n";
    std::string said;
    ASSERT_TRUE(water_level_read(&series, levels.data(), levels.size(), collect, &said)) << said;
    struct Case {
        const char* time;
        bool known;
        double level;
    } cases[] = {
        {"2026-12-08T08:59:59.999Z", false, 0}, {"2026-12-08T09:00:00Z", true, 1},
        {"2026-12-08T09:30:00Z", true, 1.5},    {"2026-12-08T10:00:00Z", true, 2},
        {"2026-12-08T10:00:00.001Z", false, 0}, {"2026-12-08T11:59:59.999Z", false, 0},
        {"2026-12-08T12:00:00Z", true, 3},      {"2026-12-08T12:15:00Z", true, 2.75},
        {"2026-12-08T12:30:00Z", true, 2.5},    {"2026-12-08T12:30:00.001Z", false, 0},
    };
    for (const Case& c : cases) {
        double level = -1;
        EXPECT_EQ(c.known, water_level_at(&series, at(c.time), &level)) << c.time;
        if (c.known) { EXPECT_DOUBLE_EQ(c.level, level) << c.time; }
    }

    MotionTrack heading;
    motion_track_start(&heading, true);
    const double samples[][2] = {{1000, 359}, {1100, 3}, {1100, 1}, {2000, 2}, {4000, 10}, {4100, NAN}, {4200, -350}};
    for (const auto& s : samples) motion_track_add(&heading, static_cast<int64_t>(s[0]), s[1]);
    const double at_times[][2] = {{999, -1}, {1050, 0}, {1100, 1}, {1550, 1.5}, {3000, -1}, {4100, 10}, {4200, 10}};
    for (const auto& t : at_times) {
        double value = -1;
        bool known = motion_track_at(&heading, static_cast<int64_t>(t[0]), &value);
        EXPECT_EQ(t[1] >= 0, known) << t[0];
        if (known) { EXPECT_NEAR(t[1], value, 1e-9) << t[0]; }
    }
    motion_track_add(&heading, 500, 90);  // the clock set back: the track begins anew
    double value = 0;
    EXPECT_EQ(1, heading.stepped_back);
    EXPECT_FALSE(motion_track_at(&heading, 1050, &value));
    for (int i = 1; i <= MOTION_SAMPLES_MAX + 10; ++i) motion_track_add(&heading, 500 + i * 10, i % 360);
    EXPECT_FALSE(motion_track_at(&heading, 600, &value)) << "the oldest samples make room";
    EXPECT_TRUE(motion_track_at(&heading, 500 + 20 * 10, &value));
    EXPECT_DOUBLE_EQ(20, value);
}

namespace {

// The ping every chain row starts from: 20 m picked, quality 80, at 09:15 UTC, with a position and course.
ReductionPing base_ping()
{
    ReductionPing p = {};
    p.file_name = "/survey/08DEC2026-0003.QKV";
    p.record = 120;
    p.time_known = true;
    p.utc_ms = at("2026-12-08T09:15:00Z");
    p.has_bottom = true;
    p.distance_m = 20;
    p.quality = 80;
    p.has_position = true;
    p.latitude = 51;
    p.longitude = 1.5;
    p.has_course = true;
    p.speed_knots = 4;
    p.course_degrees = 90;
    return p;
}

}  // namespace

// The chain in its order, each correction by hand: sound speed on the distance, then + draft - heave - level.
TEST(ReductionChain, CorrectionsInOrderAndFlags)
{
    std::string text = "time,level_m\n2026-12-08T09:00:00Z,1\n2026-12-08T10:00:00Z,2\n", said;
    ASSERT_TRUE(water_level_read(&series, text.data(), text.size(), collect, &said));
    const double depths[] = {0, 20}, speeds[] = {1500, 1520};
    ASSERT_TRUE(sound_speed_profile_of(&profile, depths, speeds, 2));
    using Settings = std::function<void(ReductionSettings*)>;
    using Ping = std::function<void(ReductionPing*)>;
    auto draft = [](ReductionSettings* s) { s->draft_m = 0.6; };
    auto tide = [draft](ReductionSettings* s) {
        draft(s);
        s->level = REDUCTION_LEVEL_SERIES;
        s->series = &series;
        snprintf(s->datum, sizeof s->datum, "LAT");
    };
    auto rtk = [draft](ReductionSettings* s) {
        draft(s);
        s->heave = true;
        s->level = REDUCTION_LEVEL_RTK;
        s->antenna_above_waterline_m = 2.0;
        s->datum_above_ellipsoid_m = 55.0;
        snprintf(s->datum, sizeof s->datum, "chart datum");
    };
    auto heave = [](ReductionPing* p) {
        p->has_heave = true;
        p->heave_m = 0.3;
    };
    auto rtk_fix = [heave](ReductionPing* p) {
        heave(p);
        p->has_height = true;
        p->fix_quality = 4;
        p->altitude_m = 12.3;
        p->geoid_separation_m = 47.0;
    };
    const double none = NAN;
    struct Case {
        const char* name;
        Settings settings;
        Ping ping;
        double depth, sound_speed, heave, level;
        const char* flags;
    } cases[] = {
        {"nothing asked", [](ReductionSettings*) {}, [](ReductionPing*) {}, 20, 0, 0, 0, ""},
        {"draft", draft, [](ReductionPing*) {}, 20.6, 0, 0, 0, ""},
        {"bar check, then draft", [draft](ReductionSettings* s) { draft(s); s->speed = REDUCTION_SPEED_CONSTANT; s->sound_speed_m_s = 1450; },
         [](ReductionPing*) {}, 19.0 + 1 / 3.0 + 0.6, -2 / 3.0, 0, 0, ""},
        {"the cast starts at the draft", [draft](ReductionSettings* s) { draft(s); s->speed = REDUCTION_SPEED_PROFILE; s->profile = &profile; },
         [](ReductionPing* p) { p->distance_m = 15; }, 15.681280727, 0.081280727, 0, 0, ""},
        {"heave up makes it shallower", [draft](ReductionSettings* s) { draft(s); s->heave = true; }, heave, 20.3, 0, 0.3, 0, ""},
        {"heave asked, none", [draft](ReductionSettings* s) { draft(s); s->heave = true; }, [](ReductionPing*) {}, none, 0,
         none, 0, "no_heave"},
        {"tide a quarter through the hour", [tide](ReductionSettings* s) { tide(s); s->heave = true; }, heave, 19.05, 0, 0.3,
         1.25, ""},
        {"tide, the ping past the series", tide, [](ReductionPing* p) { p->utc_ms += 3600 * 1000; }, none, 0, 0, none,
         "no_water_level"},
        {"tide, the ping's time unknown", tide, [](ReductionPing* p) { p->time_known = false; }, none, 0, 0, none,
         "no_water_level"},
        {"RTK height: 12.3 + 47 - 2 - 55, heave within it", rtk, rtk_fix, 18.3, 0, 0, 2.3, ""},
        {"RTK float is no level", rtk, [rtk_fix](ReductionPing* p) { rtk_fix(p); p->fix_quality = 5; }, none, 0, 0, none,
         "no_water_level"},
        {"outside the gates: kept, flagged", [draft](ReductionSettings* s) { draft(s); s->gates = true; s->gate_min_m = 1; s->gate_max_m = 15; },
         [](ReductionPing*) {}, 20.6, 0, 0, 0, "outside_gates"},
        {"low quality", [](ReductionSettings*) {}, [](ReductionPing* p) { p->quality = 19; }, 20, 0, 0, 0, "low_quality"},
        {"a pick the picker dropped: kept, a spike", tide, [](ReductionPing* p) { p->dropped = true; }, 19.35, 0, 0, 1.25,
         "spike"},
        {"no bottom", tide, [](ReductionPing* p) { p->has_bottom = false; }, none, 0, 0, 1.25, "no_bottom"},
        {"a NaN distance", [](ReductionSettings*) {}, [](ReductionPing* p) { p->distance_m = NAN; }, none, 0, 0, 0, "no_bottom"},
        {"a huge distance", [](ReductionSettings*) {}, [](ReductionPing* p) { p->distance_m = 1e300; }, none, 0, 0, 0,
         "no_bottom"},
        {"a NaN heave", [](ReductionSettings* s) { s->heave = true; }, [](ReductionPing* p) { p->has_heave = true; p->heave_m = NAN; },
         none, 0, none, 0, "no_heave"},
        {"no position", [](ReductionSettings*) {}, [](ReductionPing* p) { p->has_position = false; }, 20, 0, 0, 0,
         "no_position"},
        {"an impossible position", [](ReductionSettings*) {}, [](ReductionPing* p) { p->latitude = 91; }, 20, 0, 0, 0,
         "no_position"},
        {"an offset, drifting and no heading", [](ReductionSettings* s) { s->forward_m = 1; }, [](ReductionPing* p) { p->speed_knots = 0.5; },
         20, 0, 0, 0, "no_heading"},
        {"everything missing at once", [tide](ReductionSettings* s) { tide(s); s->heave = true; s->forward_m = 1; },
         [](ReductionPing* p) { p->has_bottom = false; p->time_known = false; p->has_position = false; }, none, 0, none,
         none, "no_bottom|no_position|no_heave|no_water_level"},
    };
    for (const Case& c : cases) {
        ReductionSettings settings;
        reduction_settings_default(&settings);
        c.settings(&settings);
        char why[200] = "";
        ASSERT_TRUE(reduction_settings_check(&settings, why, sizeof why)) << c.name << ": " << why;
        ReductionPing ping = base_ping();
        c.ping(&ping);
        ReductionResult r;
        reduction_reduce(&settings, &ping, &r);
        char flags[REDUCTION_FLAGS_TEXT_SIZE];
        EXPECT_STREQ(c.flags, reduction_flags_text(r.flags, flags)) << c.name;
        EXPECT_EQ(!std::isnan(c.depth), r.has_depth) << c.name;
        if (r.has_depth) { EXPECT_NEAR(c.depth, r.depth_m, 1e-6) << c.name; }
        if (r.has_distance) { EXPECT_NEAR(c.sound_speed, r.sound_speed_m, 1e-6) << c.name; }
        EXPECT_TRUE(std::isnan(c.heave) ? std::isnan(r.heave_m) : std::fabs(c.heave - r.heave_m) < 1e-9) << c.name;
        EXPECT_TRUE(std::isnan(c.level) ? std::isnan(r.water_level_m) : std::fabs(c.level - r.water_level_m) < 1e-9)
            << c.name << " " << r.water_level_m;
    }
}

// Settings that make no one reduction are refused, with why.
TEST(ReductionChain, SettingsRefused)
{
    using Settings = std::function<void(ReductionSettings*)>;
    struct Case {
        const char* why;
        Settings change;
    } cases[] = {
        {"the speed of sound", [](ReductionSettings* s) { s->speed = REDUCTION_SPEED_CONSTANT; s->sound_speed_m_s = 4921; }},
        {"a sound-speed profile", [](ReductionSettings* s) { s->speed = REDUCTION_SPEED_PROFILE; }},
        {"a datum needs", [](ReductionSettings* s) { snprintf(s->datum, sizeof s->datum, "LAT"); }},
        {"a water level needs", [](ReductionSettings* s) { s->level = REDUCTION_LEVEL_RTK; }},
        {"a datum's name", [](ReductionSettings* s) { s->level = REDUCTION_LEVEL_RTK; snprintf(s->datum, sizeof s->datum, "a,b"); }},
        {"a water-level series", [](ReductionSettings* s) { s->level = REDUCTION_LEVEL_SERIES; snprintf(s->datum, sizeof s->datum, "CD"); }},
        {"the draft", [](ReductionSettings* s) { s->draft_m = NAN; }},
        {"the transducer's offset", [](ReductionSettings* s) { s->starboard_m = INFINITY; }},
        {"the depth gates", [](ReductionSettings* s) { s->gates = true; s->gate_min_m = 5; s->gate_max_m = 5; }},
    };
    for (const Case& c : cases) {
        ReductionSettings settings;
        reduction_settings_default(&settings);
        c.change(&settings);
        char why[200] = "";
        EXPECT_FALSE(reduction_settings_check(&settings, why, sizeof why)) << c.why;
        EXPECT_EQ(0u, std::string(why).find(c.why)) << why;
    }
    ReductionSettings settings;
    reduction_settings_default(&settings);
    EXPECT_STREQ(REDUCTION_SURFACE, reduction_reference(&settings));
}

// The sounding placed by the offset along the heading, worked by the local radii of curvature (dN / M,
// dE / (N cos lat)), at 0, 90, 180 and 270 degrees; across the date line; over the pole.
TEST(ReductionPosition, OffsetAlongTheHeading)
{
    struct Case {
        double latitude, longitude, heading, forward, starboard, expected_latitude, expected_longitude;
    } cases[] = {
        {0, 1.5, 0, 10, 2, 0.0000904369, 1.5000179663},       {0, 1.5, 90, 10, 2, -0.0000180874, 1.5000898315},
        {0, 1.5, 180, 10, 2, -0.0000904369, 1.4999820337},    {0, 1.5, 270, 10, 2, 0.0000180874, 1.4999101685},
        {51, 1.5, 0, 10, 2, 51.0000898890, 1.5000284910},     {51, 1.5, 90, 10, 2, 50.9999820222, 1.5001424549},
        {51, 1.5, 180, 10, 2, 50.9999101110, 1.4999715090},   {51, 1.5, -90, 10, 2, 51.0000179778, 1.4998575451},
        {51, 1.5, 450, 10, 2, 50.9999820222, 1.5001424549},   {-16.5, 179.99999, 90, 5, 0, -16.5, -179.9999631678},
        {89.99999, 0, 0, 3, 0, 89.9999831409, 180},           {90, 0, 0, 0, 0, 90, 0},
    };
    for (const Case& c : cases) {
        double latitude = 0, longitude = 0;
        ASSERT_TRUE(reduction_offset_position(c.latitude, c.longitude, c.heading, c.forward, c.starboard, &latitude,
                                              &longitude));
        EXPECT_NEAR(c.expected_latitude, latitude, 2e-10) << c.latitude << " " << c.heading;
        double east = std::remainder(longitude - c.expected_longitude, 360.0);
        EXPECT_NEAR(0, east, 2e-10) << c.latitude << " " << c.heading << " " << longitude;
    }
    double latitude = 0, longitude = 0;
    EXPECT_FALSE(reduction_offset_position(NAN, 0, 0, 1, 0, &latitude, &longitude));
    EXPECT_FALSE(reduction_offset_position(0, 0, INFINITY, 1, 0, &latitude, &longitude));
    EXPECT_FALSE(reduction_offset_position(0, 181, 0, 1, 0, &latitude, &longitude));
}

// The stream of soundings: a spike against the median of the window around it, its delay half the window.
TEST(ReductionSpike, RunningMedianOfTheWindow)
{
    const double gap = NAN, gated = -1, accepted = -2;
    struct Case {
        const char* name;
        std::vector<double> depths;  // below the surface; gap: no bottom; gated: outside the gates
        const char* spikes;          // one character a ping: S flagged
    } cases[] = {
        {"one spike", {10, 10.1, 10, 9.9, 10, 10.1, 10, 13, 10, 10.1, 9.9, 10, 10}, ".......S....."},
        {"two together", {10, 10, 10, 10, 10, 10, 4, 4.2, 10, 10, 10, 10, 10, 10}, "......SS......"},
        {"a real step", {10, 10, 10, 10, 10, 10, 15, 15, 15, 15, 15, 15}, "............"},
        {"a slope, the windows at the ends one-sided", {10, 10.1, 10.2, 10.3, 10.4, 10.5, 10.6, 10.7, 10.8, 10.9, 11}, "..........."},
        {"a spike first and last", {30, 10, 10, 10, 10, 10, 10, 10, 10, 2}, "S........S"},
        {"within the threshold, 5% of 40 m", {40, 40, 40, 40, 40, 41.9, 40, 40, 40, 40, 40}, "..........."},
        {"too few neighbours: gaps and gated pings are none", {gap, 10, gated, gap, 10, 14, gap, gated, 10, gap, gap}, "..........."},
        {"enough neighbours across gaps", {gap, 10, gated, 10, 10, 14, gap, gated, 10, gap, gap}, ".....S....."},
        {"an accepted ping is no spike", {10, 10, 10, 10, 10, accepted, 10, 10, 10, 10, 10}, "..........."},
    };
    for (const Case& c : cases) {
        SpikeSettings settings;
        spike_settings_default(&settings);
        SpikeStream stream;
        spike_start(&stream, &settings);
        std::string seen;
        ReductionResult out;
        int64_t next = 0;
        for (size_t i = 0; i < c.depths.size(); ++i) {
            ReductionResult in = {};
            in.tag = static_cast<int64_t>(i);
            in.has_surface_depth = !std::isnan(c.depths[i]);
            in.surface_depth_m = c.depths[i] == accepted ? 30 : c.depths[i];
            in.flags = std::isnan(c.depths[i]) ? REDUCTION_FLAG_NO_BOTTOM : c.depths[i] == gated ? REDUCTION_FLAG_GATE : 0u;
            in.edit = c.depths[i] == accepted ? EDIT_ACCEPT : EDIT_NONE;
            if (!spike_offer(&stream, &in, &out)) {
                EXPECT_LT(i, static_cast<size_t>(settings.half_window)) << c.name;
                continue;
            }
            EXPECT_EQ(static_cast<int64_t>(i) - settings.half_window, out.tag) << c.name << ": the delay";
            EXPECT_EQ(next++, out.tag);
            seen += out.flags & REDUCTION_FLAG_SPIKE ? 'S' : '.';
        }
        while (spike_flush(&stream, &out)) {
            EXPECT_EQ(next++, out.tag);
            seen += out.flags & REDUCTION_FLAG_SPIKE ? 'S' : '.';
        }
        EXPECT_EQ(c.spikes, seen) << c.name;
    }
}

// Edits decide their pings, the last line first; an accept clears the judgements, not what is missing;
// an edit naming nothing read is said, and a list for another recording.
TEST(ReductionEdits, AppliedAndWhatNamedNothingSaid)
{
    std::string text = "edit-list 1\nreject 08DEC2026-0003.QKV 100-130 wake\naccept 08dec2026-0003.qkv 120 real\n"
                       "reject 08DEC2026-0003.QKV 9000 beyond the file\nreject 08DEC2026-0004.QKV 1 not read\n"
                       "reject 2026-12-08T09:15:00Z 2026-12-08T09:15:00.5Z engine\n"
                       "reject 2026-12-09T00:00:00Z 2026-12-09T01:00:00Z another day\n",
                said;
    ASSERT_TRUE(edits_read(&edits, text.data(), text.size(), collect, &said)) << said;
    ReductionSettings settings;
    reduction_settings_default(&settings);
    settings.edits = &edits;
    struct Case {
        long record;
        int64_t later_ms;  // after 09:15 UTC
        int quality;
        long line;
        const char* flags;
    } cases[] = {
        {99, 1000, 80, 0, ""},           {100, 1000, 80, 2, "rejected"}, {120, 1000, 10, 3, ""},
        {121, 1000, 10, 2, "rejected|low_quality"}, {140, 0, 80, 6, "rejected"}, {141, 500, 80, 6, "rejected"},
    };
    for (const Case& c : cases) {
        ReductionPing ping = base_ping();
        ping.record = c.record;
        ping.utc_ms += c.later_ms;
        ping.quality = c.quality;
        ReductionResult r;
        reduction_reduce(&settings, &ping, &r);
        char flags[REDUCTION_FLAGS_TEXT_SIZE];
        EXPECT_STREQ(c.flags, reduction_flags_text(r.flags, flags)) << c.record;
        EXPECT_EQ(c.line, r.edit_line) << c.record;
    }
    said.clear();
    EXPECT_EQ(3, edits_report_unused(&edits, collect, &said));
    EXPECT_EQ("line 4: 08DEC2026-0003.QKV has no record 9000 (the last read is 141)\n"
              "line 5: 08DEC2026-0004.QKV was not read: an edit for another recording?\n"
              "line 7: no ping from 2026-12-09T00:00:00.000Z to 2026-12-09T01:00:00.000Z\n",
              said);
    FieldsProblem problem;
    EXPECT_EQ(FIELDS_BAD, edits_take_line(&edits, ("reject a.QKV 1 " + std::string(600, 'x')).c_str(), 9, &problem));
    text = "edit-list 1\nreject 01JAN2020-0001.QKV 1 old\n";
    ASSERT_TRUE(edits_read(&edits, text.data(), text.size(), collect, &said));
    ReductionPing ping = base_ping();
    ReductionResult r;
    reduction_reduce(&settings, &ping, &r);
    said.clear();
    edits_report_unused(&edits, collect, &said);
    EXPECT_EQ(0u, said.find("the edit list names no data file that was read: it is for another recording"))
        << said;
}
