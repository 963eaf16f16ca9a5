// NMEA sentences out of a byte stream, and the fix fields of GGA and RMC.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "navfile/nmea.h"

namespace {

const char GGA[] = "$GPGGA,090500.00,5106.9848,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,*5C";

// What the framer made of a stream: each verdict, and the text of each good sentence.
std::string frame(const std::string& stream)
{
    NmeaFramer framer;
    nmea_framer_reset(&framer);
    std::string seen;
    for (char c : stream) {
        NmeaVerdict verdict = nmea_framer_take(&framer, static_cast<uint8_t>(c));
        if (verdict == NMEA_GOOD) seen += std::string("good ") + framer.text + ";";
        if (verdict == NMEA_BAD_CHECKSUM) seen += "bad checksum;";
        if (verdict == NMEA_NO_CHECKSUM) seen += "no checksum;";
        if (verdict == NMEA_TOO_LONG) seen += "too long;";
        if (verdict == NMEA_BROKEN) seen += "broken;";
    }
    return seen;
}

// A sentence of exactly length characters without its line end, checksum right.
std::string sentence_of_length(size_t length)
{
    char text[256] = "$GPTXT,";
    std::string body(text);
    body.append(length - body.size() - NMEA_CHECKSUM_LENGTH, 'A');
    snprintf(text, sizeof text, "%s", body.c_str());
    nmea_append_checksum(text, body.size());
    return text;
}

struct FrameCase {
    const char* name;
    std::string stream;
    std::string expected;
};

}  // namespace

TEST(NmeaFramer, Streams)
{
    const std::string good = std::string("good ") + GGA + ";";
    const std::string longest = sentence_of_length(NMEA_TEXT_MAX);
    const std::vector<FrameCase> cases = {
        {"CR LF ends it", std::string(GGA) + "\r\n", good},
        {"LF alone ends it", std::string(GGA) + "\n", good},
        {"bytes outside a sentence are skipped", std::string("\x00\xff junk\r\n", 10) + GGA + "\r\n", good},
        {"two in one piece", std::string(GGA) + "\r\n" + GGA + "\r\n", good + good},
        {"wrong checksum", "$GPGGA,090500.00,,,,,0,00,,,,,,,*00\r\n", "bad checksum;"},
        {"no checksum", "$GPGGA,090500.00,,,,,0,00,,,,,,,\r\n", "no checksum;"},
        {"one checksum digit", "$GPGGA,1*5\r\n", "no checksum;"},
        {"text after the checksum", std::string(GGA) + "X\r\n", "no checksum;"},
        {"lower-case checksum digits", "$GPTXT,i*0a\r\n$GPTXT,i*0A\r\n", "good $GPTXT,i*0a;good $GPTXT,i*0A;"},
        {"AIS start character", "!AIVDM,1,1,,A,13u?etPv2;0n:dDPwUM1U1Cb069D,0*24\r\n",
         "good !AIVDM,1,1,,A,13u?etPv2;0n:dDPwUM1U1Cb069D,0*24;"},
        {"82 characters with CR LF", longest + "\r\n", "good " + longest + ";"},
        {"83 characters", sentence_of_length(NMEA_TEXT_MAX + 1) + "\r\n" + GGA + "\n", "too long;" + good},
        {"far too long, then a start", std::string(300, 'B').insert(0, "$GP") + GGA + "\n", "too long;" + good},
        {"a new start before the line end", std::string("$GPGGA,0905") + GGA + "\r\n", "broken;" + good},
        {"a control character inside", "$GPTXT,\ta*0B\r\n", "broken;"},
        {"a CR inside", "$GPTXT,\ra*5B\r\n", "broken;"},
        {"a byte above ASCII inside", "$GPTXT,\xe9*5B\r\n", "broken;"},
    };
    for (const FrameCase& c : cases) EXPECT_EQ(c.expected, frame(c.stream)) << c.name;
}

struct FixCase {
    const char* sentence;
    bool valid;
    const char* quality;
    int satellites;
    const char* latitude;
    const char* longitude;
};

TEST(NmeaFix, GgaAndRmcOfAnyTalker)
{
    const FixCase cases[] = {
        {GGA, true, "GPS", 9, "51 06.9848 N", "001 23.4567 E"},
        {"$GNGGA,090500.00,5106.98,S,12323.45,W,4,12,0.9,12.3,M,47.0,M,,*00", true, "RTK", 12, "51 06.98 S",
         "123 23.45 W"},
        {"$GPGGA,090500.00,,,,,0,00,,,,,,,*00", false, "no fix", 0, "", ""},
        {"$GLGGA,090500.00,5106.9848,X,00123.4567,E,2,7,,,,,,,*00", true, "DGPS", 7, "", "001 23.4567 E"},
        {"$GPGGA,090500.00,510.9848,N,0123.4567,E,1,,,,,,,,*00", true, "GPS", -1, "", ""},
        {"$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,4.2,90.0,081226,,,D*00", true, "DGPS", -1, "51 06.9848 N",
         "001 23.4567 E"},
        {"$GARMC,090500.00,A,5106.9848,N,00123.4567,E,4.2,90.0,081226,,*00", true, "GPS", -1, "51 06.9848 N",
         "001 23.4567 E"},
        {"$GPRMC,090500.00,V,,,,,,,081226,,,N*00", false, "no fix", -1, "", ""},
        {"$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,4.2,90.0,081226,,,N*00", false, "no fix", -1,
         "51 06.9848 N", "001 23.4567 E"},
        {"$GNGGA,123519.00,4404.126998,N,12118.844143,W,4,14,0.7,1013.2,M,-21.3,M,1.0,0000*00", true, "RTK", 14,
         "44 04.126998 N", "121 18.844143 W"},
        {"$GNRMC,123519.00,A,3352.1234567890123456,S,15112.3456789012345678,E,,,081226,,,R*00", true, "RTK", -1,
         "33 52.123456789012345 S", "151 12.34567890123456 E"},  // decimals beyond the text's room left off
    };
    for (const FixCase& c : cases) {
        NmeaFix fix;
        nmea_fix_clear(&fix);
        ASSERT_TRUE(nmea_take_fix(c.sentence, &fix)) << c.sentence;
        EXPECT_TRUE(fix.present);
        EXPECT_EQ(c.valid, fix.valid) << c.sentence;
        EXPECT_STREQ(c.quality, fix.quality) << c.sentence;
        EXPECT_EQ(c.satellites, fix.satellites) << c.sentence;
        EXPECT_STREQ(c.latitude, fix.latitude) << c.sentence;
        EXPECT_STREQ(c.longitude, fix.longitude) << c.sentence;
    }
}

// An RMC after a GGA moves the position on but keeps the satellites it does not tell;
// other sentences change nothing.
TEST(NmeaFix, RmcKeepsSatellitesOtherSentencesNothing)
{
    NmeaFix fix;
    nmea_fix_clear(&fix);
    EXPECT_FALSE(nmea_take_fix("$GPGSV,3,1,11,01,40,083,46*00", &fix));
    EXPECT_FALSE(fix.present);
    ASSERT_TRUE(nmea_take_fix(GGA, &fix));
    ASSERT_TRUE(nmea_take_fix("$GPRMC,090501.00,A,5107.0000,N,00124.0000,E,4.2,90.0,081226,,*00", &fix));
    EXPECT_EQ(9, fix.satellites);
    EXPECT_STREQ("51 07.0000 N", fix.latitude);
    EXPECT_FALSE(nmea_take_fix("$GPVTG,90.0,T,,M,4.2,N,7.8,K*00", &fix));
    EXPECT_STREQ("51 07.0000 N", fix.latitude);
}

// Angles written as a fix sentence's fields, rounded as a whole: just under a whole degree is the next degree.
TEST(NmeaAngle, FieldsRoundToTheFourthDecimalOfMinutes)
{
    const struct { double degrees; int digits; const char* expected; } cases[] = {
        {51.116413333, 2, "5106.9848,N"}, {51.99999999, 2, "5200.0000,N"}, {-0.999999999, 3, "00100.0000,W"},
        {-179.5, 3, "17930.0000,W"},       {-0.000000001, 2, "0000.0000,N"}};
    for (const auto& c : cases) {
        char text[NMEA_ANGLE_FIELDS_SIZE];
        const char* hemispheres = c.digits == 2 ? "NS" : "EW";
        EXPECT_EQ(strlen(c.expected), nmea_angle_fields(c.degrees, c.digits, hemispheres, text, sizeof text));
        EXPECT_STREQ(c.expected, text) << c.degrees;
    }
}

// Positions as numbers for joining: survey receivers' minutes with 6 to 8 decimals kept whole with their count;
// impossible angles told from absent ones; RMC's speed and course only where both are decimal numbers in range,
// "-0" as 0; the fix sentences built as headsim sends them read back.
TEST(NmeaPosition, AnglesOfAnyPrecisionAndImpossibleOnes)
{
    const double LAT = 51 + 6.9848 / 60, LON = 1 + 23.4567 / 60;
    NmeaFixOut sent = {{2026, 12, 8, 9, 5, 0, 9}, LAT, LON, 1, 9, 0.9, 12.3, 47.0, 4.2, 90.0};
    char gga[NMEA_SENTENCE_MAX + 1], rmc[NMEA_SENTENCE_MAX + 1];
    ASSERT_GT(nmea_gga(&sent, gga, sizeof gga), 0u);
    ASSERT_GT(nmea_rmc(&sent, rmc, sizeof rmc), 0u);
    EXPECT_EQ(std::string(GGA) + "\r\n", gga);
    EXPECT_STREQ("$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,4.2,90.0,081226,,,A*6D\r\n", rmc);
    struct Case {
        const char* sentence;
        bool position, impossible;
        double latitude, longitude;
        int decimals;
        bool motion = false;
    } cases[] = {
        {"$GNGGA,123519.00,4404.126998,N,12118.844143,W,4,14,0.7,1013.2,M,-21.3,M,1.0,0000*00", true, false,
         44.0687833, -121.31406905, 6},
        {"$GPGGA,123519.00,4221.8237090,N,07106.12345678,W,5,14,0.7,10.2,M,-33.1,M,,*00", true, false,
         42.36372848333333, -71.102057613, 8},
        {"$GNRMC,123519.00,A,3352.12345678,S,15112.3456789,E,0.02,0.0,081226,,,R*00", true, false,
         -33.868724279666665, 151.205761315, 8, true},
        {"$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,nan,90.0,081226,,,D*00", true, false, LAT, LON, 4},
        {"$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,4.2,inf,081226,,,D*00", true, false, LAT, LON, 4},
        {"$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,1e300,90.0,081226,,,D*00", true, false, LAT, LON, 4},
        {"$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,-4.2,360.5,081226,,,D*00", true, false, LAT, LON, 4},
        {"$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,-0,-0.0,081226,,,D*00", true, false, LAT, LON, 4, true},
        {"$GPGGA,090500.00,9930.0000,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,*00", false, true, 0, 0, 0},
        {"$GPGGA,090500.00,5175.0000,N,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,*00", false, true, 0, 0, 0},
        {"$GPRMC,090500.00,A,5106.9848,N,18130.0000,E,4.2,90.0,081226,,,D*00", false, true, 0, 0, 0, true},
        {"$GPGGA,090500.00,5106.9848,X,00123.4567,E,1,09,0.9,12.3,M,47.0,M,,*00", false, true, 0, 0, 0},
        {"$GPGGA,090500.00,,,,,0,00,,,,,,,*00", false, false, 0, 0, 0},
        {gga, true, false, LAT, LON, 4},
        {rmc, true, false, LAT, LON, 4, true},
    };
    for (const Case& c : cases) {
        NmeaPosition p;
        ASSERT_TRUE(nmea_read_position(c.sentence, &p)) << c.sentence;
        EXPECT_EQ(c.position, p.has_position) << c.sentence;
        EXPECT_EQ(c.impossible, p.impossible) << c.sentence;
        EXPECT_EQ(c.motion, p.has_motion) << c.sentence;
        EXPECT_FALSE(p.has_motion && (std::signbit(p.speed_knots) || std::signbit(p.course_degrees))) << c.sentence;
        if (!c.position) continue;
        EXPECT_NEAR(c.latitude, p.latitude, 1e-12) << c.sentence;
        EXPECT_NEAR(c.longitude, p.longitude, 1e-12) << c.sentence;
        EXPECT_EQ(c.decimals, p.minute_decimals) << c.sentence;
    }
}

// The depth sentences as a chart plotter reads them: DPT's offset to the waterline (+) or the keel (-), and
// empty depth fields for a ping with no bottom; none at all for what no sentence can hold.
TEST(NmeaDepth, SentencesBuilt)
{
    enum Kind { DPT, DBT, DBS };
    struct Case {
        Kind kind;
        double depth, offset, range;
        size_t size;
        const char* sentence;  // "" for none
    } cases[] = {
        {DPT, 15.25, 0.5, 40, 96, "$SDDPT,15.25,0.50,40*49\r\n"},
        {DPT, 15.25, -1.2, 40, 96, "$SDDPT,15.25,-1.20,40*62\r\n"},
        {DPT, NAN, 0.5, 40, 96, "$SDDPT,,0.50,40*64\r\n"},
        {DPT, -0.01, 0.5, 40, 96, "$SDDPT,,0.50,40*64\r\n"},
        {DPT, 15.25, 0.5, NAN, 96, "$SDDPT,15.25,0.50,*4D\r\n"},
        {DPT, 1e300, 0.5, 40, 96, ""},
        {DPT, 15.25, INFINITY, 40, 96, ""},
        {DPT, 15.25, 0.5, 40, 25, ""},
        {DPT, 15.25, 0.5, 40, 26, "$SDDPT,15.25,0.50,40*49\r\n"},
        {DBT, 15.25, 0, 0, 96, "$SDDBT,50.0,f,15.25,M,8.3,F*3B\r\n"},
        {DBT, NAN, 0, 0, 96, "$SDDBT,,f,,M,,F*28\r\n"},
        {DBS, 15.85, 0, 0, 96, "$SDDBS,52.0,f,15.85,M,8.7,F*30\r\n"},
        {DBS, INFINITY, 0, 0, 96, "$SDDBS,,f,,M,,F*2F\r\n"},
        {DBS, 1e70, 0, 0, 96, ""},
    };
    for (const Case& c : cases) {
        char text[NMEA_DEPTH_SENTENCE_SIZE] = "";
        size_t length = c.kind == DPT   ? nmea_dpt(c.depth, c.offset, c.range, text, c.size)
                        : c.kind == DBT ? nmea_dbt(c.depth, text, c.size)
                                        : nmea_dbs(c.depth, text, c.size);
        EXPECT_EQ(strlen(c.sentence), length) << c.sentence << " " << c.depth;
        if (length > 0) { EXPECT_STREQ(c.sentence, text); }
    }
}

// A motion sensor's $PASHR and a heading sensor's HDT read, and those headsim sends built and read back (none
// built of a value the reader would refuse); GGA's height where both its parts are in metres.
TEST(NmeaAttitude, PashrHdtAndGgaHeight)
{
    char pashr[NMEA_SENTENCE_MAX + 1], hdt[NMEA_SENTENCE_MAX + 1], refused[NMEA_SENTENCE_MAX + 1];
    NmeaAttitude sent = {59429000, true, 158.09, true, -0.3, true, 0.31, true, -1.254};
    ASSERT_GT(nmea_pashr(&sent, pashr, sizeof pashr), 0u);
    EXPECT_STREQ("$PASHR,163029.000,158.09,T,-0.30,+0.31,-1.25,0.050,0.050,0.100,1,1*37\r\n", pashr);
    ASSERT_GT(nmea_hdt(0.5, hdt, sizeof hdt), 0u);
    EXPECT_STREQ("$HEHDT,0.50,T*1A\r\n", hdt);
    sent.heave_m = 120;
    EXPECT_EQ(0u, nmea_pashr(&sent, refused, sizeof refused));
    EXPECT_EQ(0u, nmea_hdt(360.5, refused, sizeof refused));
    struct Case {
        const char* sentence;
        bool read;
        double heading, roll, pitch, heave;  // NAN: not given
    } cases[] = {
        {"$PASHR,163029.000,158.09,T,-0.30,+0.31,+0.01,0.029,0.029,0.059,1,1*3B", true, 158.09, -0.30, 0.31, 0.01},
        {"$PASHR,163029.000,,T,95.0,-4.5,-1.25,0.029,0.029,0.059,1*00", true, NAN, NAN, -4.5, -1.25},
        {"$PASHR,163029.000,158.09,M,1,2,nan,,,,,*00", true, NAN, 1, 2, NAN},
        {"$PASHR,163029.000,400,T,0x10,2,120,,,,,*00", true, NAN, NAN, 2, NAN},
        {"$PASHR,POS,0,10,163029.00,5106.9848,N,00123.4567,E,12.3,,090.0,0.1,,,,,*00", false, 0, 0, 0, 0},
        {"$GNHDT,274.07,T*1D", true, 274.07, NAN, NAN, NAN},
        {"$HEHDT,0.5,T*2A", true, 0.5, NAN, NAN, NAN},
        {"$GPHDT,,T*00", false, 0, 0, 0, 0},
        {"$HEHDT,274.07,M*00", false, 0, 0, 0, 0},
        {"$HEHDT,361,T*00", false, 0, 0, 0, 0},
        {pashr, true, 158.09, -0.30, 0.31, -1.25},
        {hdt, true, 0.5, NAN, NAN, NAN},
    };
    auto same = [](double expected, bool given, double value) { return std::isnan(expected) ? !given : given && value == expected; };
    for (const Case& c : cases) {
        NmeaAttitude a;
        double heading = 0;
        bool hdt = strstr(c.sentence, "HDT") != nullptr;
        bool read = hdt ? nmea_read_hdt(c.sentence, &heading) : nmea_read_pashr(c.sentence, &a);
        EXPECT_EQ(c.read, read) << c.sentence;
        if (!read) continue;
        if (hdt) {
            EXPECT_EQ(c.heading, heading);
            continue;
        }
        EXPECT_EQ(59429000, a.utc_ms_of_day);
        EXPECT_TRUE(same(c.heading, a.has_heading, a.heading_degrees)) << c.sentence;
        EXPECT_TRUE(same(c.roll, a.has_roll, a.roll_degrees)) << c.sentence;
        EXPECT_TRUE(same(c.pitch, a.has_pitch, a.pitch_degrees)) << c.sentence;
        EXPECT_TRUE(same(c.heave, a.has_heave, a.heave_m)) << c.sentence;
    }
    struct Height {
        const char* sentence;
        bool given;
        double altitude, separation;
    } heights[] = {
        {GGA, true, 12.3, 47.0},
        {"$GNGGA,123519.00,4404.126998,N,12118.844143,W,4,14,0.7,1013.2,M,-21.3,M,1.0,0000*00", true, 1013.2, -21.3},
        {"$GPGGA,090500.00,5106.9848,N,00123.4567,E,1,09,0.9,12.3,M,,M,,*00", false, 0, 0},
        {"$GPGGA,090500.00,5106.9848,N,00123.4567,E,1,09,0.9,12.3,F,47.0,M,,*00", false, 0, 0},
        {"$GPRMC,090500.00,A,5106.9848,N,00123.4567,E,4.2,90.0,081226,,,D*00", false, 0, 0},
    };
    for (const Height& h : heights) {
        NmeaPosition p;
        ASSERT_TRUE(nmea_read_position(h.sentence, &p));
        EXPECT_EQ(h.given, p.has_height) << h.sentence;
        if (h.given) { EXPECT_EQ(h.altitude, p.altitude_m) << h.sentence; }
        if (h.given) { EXPECT_EQ(h.separation, p.geoid_separation_m) << h.sentence; }
    }
}
