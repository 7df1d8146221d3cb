// SPDX-License-Identifier: MIT
// Every receiver setting end to end: what kestrel prints, the reports the
// simulated receiver saw and the receiver's state afterwards, over USB HID
// with a 7-byte and with a 5-byte receiver, over the drive's command files
// and tunnelled over TCP (-F, -S and -X are tcp_test.cpp's there).
#include "harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace e2e {
namespace {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

enum class Link { Hid7, Hid5, Drive, Tcp };

const char *link_name(Link link) {
    switch (link) {
    case Link::Hid7:
        return "Hid7";
    case Link::Hid5:
        return "Hid5";
    case Link::Drive:
        return "Drive";
    case Link::Tcp:
        return "Tcp";
    }
    return "?";
}

void PrintTo(Link link, std::ostream *os) {
    *os << link_name(link);
}

// One simulated receiver on one link, with the state it starts from.
class Receiver {
  public:
    Receiver(Link link, const KeyValues &initial, Faults faults = {}) : link_(link) {
        std::map<std::string, std::string> state(initial.begin(), initial.end());
        if (link == Link::Drive || link == Link::Tcp) {
            msd_ = std::make_unique<MsdSim>(
                MsdOptions{.faults = faults, .state = state, .tcp = link == Link::Tcp});
        } else {
            hid_ = std::make_unique<HidSim>();
            hid_->add_device({.pid = static_cast<uint16_t>(link == Link::Hid5 ? 0x0001 : 0x0002),
                              .faults = faults,
                              .state = state});
        }
    }

    RunResult run(const std::vector<std::string> &args) const {
        if (hid_)
            return run_kestrel(args, *hid_);
        std::vector<std::string> with_drive{"-P" + msd_->drive()};
        if (link_ == Link::Tcp)
            with_drive = {"-T127.0.0.1", "-P" + std::to_string(msd_->tcp_port())};
        with_drive.insert(with_drive.end(), args.begin(), args.end());
        return run_kestrel(with_drive);
    }
    // Over the drive files the receiver takes a request after kestrel has
    // written it, and the run may end first (a reset, USB mode 2). Waits,
    // bounded, until the last request is taken, then stops the receiver so
    // that its log and state are complete.
    void settle() {
        if (!msd_)
            return;
        const std::string request_file = msd_->drive() + "command.out";
        for (int i = 0; i < 300; i++) {
            int fd = open(request_file.c_str(), O_RDONLY);
            unsigned char code = 1;
            bool read = fd >= 0 && pread(fd, &code, 1, 0) == 1;
            if (fd >= 0)
                close(fd);
            if (read && code == 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        msd_->stop();
    }
    std::string open_text() const {
        if (link_ == Link::Tcp)
            return "SDR IP=127.0.0.1:" + std::to_string(msd_->tcp_port()) +
                   "\r\nSO_KEEPALIVE is OFF\n";
        return hid_ ? hid_open_text() : msd_open_text(msd_->drive());
    }
    std::vector<std::string> requests() const {
        return hid_ ? hid_->requests() : msd_->requests(link_ == Link::Tcp ? "tcp" : "");
    }
    std::string state(const std::string &key) const {
        return hid_ ? hid_->state(key) : msd_->state(key);
    }
    // The bytes of a 7-byte report as this receiver's link carries them.
    std::string on_the_wire(const std::string &report) const {
        return link_ == Link::Hid5 ? report.substr(0, 14) : report; // "02 08 40 00 00"
    }

  private:
    Link link_;
    std::unique_ptr<HidSim> hid_;
    std::unique_ptr<MsdSim> msd_;
};

const std::string kAckFrequency = "ACK Frequency \n\r";
const std::string kResetEnd = "Reset SDR!\n\rPlease Wait till SDR will be restarted again \n\r";
const std::string kReset = "02 35 00 00 00 00 00";

struct SettingCase {
    const char *name;
    std::vector<std::string> args;
    KeyValues initial;                 // receiver state before the run
    std::string out;                   // after the banner and the open lines
    std::vector<std::string> requests; // 7-byte reports; a 5-byte link carries their first 5
    KeyValues state;                   // receiver state afterwards
    // Where a 5-byte receiver differs: what it prints and where it ends.
    std::string out_5 = "";
    KeyValues state_5 = {};
    // A value refused by its check ends the run with status 1.
    int status = 0;
    std::string err = "";
};

const SettingCase kCases[] = {
    // -F and the channel.
    {"Frequency",
     {"-F14100000"},
     {},
     "RX Frequency 14100000 (Hz) for the channel 0\r\n" + kAckFrequency,
     {"03 20 26 D7 00 00 00"},
     {{"freq.0", "14100000"}}},
    {"LettersInEitherCase",
     {"-f7000000", "-g14", "-e0"},
     {{"rfgain.0", "0"}, {"fe_gain", "5"}},
     "RX Frequency 7000000 (Hz) for the channel 0\r\n" + kAckFrequency +
         "RF gain 14dB => 64\r\nFE gain 1.000000\r\n",
     {"03 C0 CF 6A 00 00 00", "02 08 40 00 00 00 00", "02 02 01 00 00 00 00"},
     {{"freq.0", "7000000"}, {"rfgain.0", "64"}, {"fe_gain", "1"}}},
    {"ChannelBeforeFrequency",
     {"-C2", "-F14100000"},
     {},
     "RX Frequency 14100000 (Hz) for the channel 2\r\n" + kAckFrequency,
     {"03 20 26 D7 00 02 00"},
     {{"freq.2", "14100000"}, {"freq.0", "0"}},
     "",
     // The channel byte does not travel in a 5-byte report.
     {{"freq.2", "0"}, {"freq.0", "14100000"}}},
    {"ChannelAfterFrequency",
     {"-F14100000", "-C2"},
     {},
     "RX Frequency 14100000 (Hz) for the channel 0\r\n" + kAckFrequency,
     {"03 20 26 D7 00 00 00"},
     {{"freq.0", "14100000"}, {"freq.2", "0"}}},
    {"NoFrequencySendsNothing",
     {"-F0", "-F", "14100000"},
     {},
     "",
     {},
     {{"freq.0", "0"}},
     "",
     {},
     1,
     "kestrel: -F has no value: \"14100000\" is a separate argument and was skipped, so -F "
     "sent nothing; write -F14100000\n"},
    {"BareFrequencyRepeatsTheLastValue",
     {"-F7000000", "-F"},
     {},
     "RX Frequency 7000000 (Hz) for the channel 0\r\n" + kAckFrequency +
         "RX Frequency 7000000 (Hz) for the channel 0\r\n" + kAckFrequency,
     {"03 C0 CF 6A 00 00 00", "03 C0 CF 6A 00 00 00"},
     {{"freq.0", "7000000"}}},
    {"StreamLeavesItsNumberForFrequency",
     {"-X1", "-F"},
     {},
     "The Data stream has been started\r\nStream start/stop=> 1\n\r"
     "RX Frequency 1 (Hz) for the channel 0\r\n" +
         kAckFrequency,
     {"02 1A 01 00 00 00 00", "03 01 00 00 00 00 00"},
     {{"stream", "1"}, {"freq.0", "1"}}},

    // -G and -I.
    {"RfGainInDb",
     {"-C1", "-G-10"},
     {},
     "RF gain -10dB => 0\r\n",
     {"02 08 00 01 00 00 00"},
     {{"rfgain.1", "0"}, {"rfgain.0", "64"}}},
    {"LnaFormSetsBothTunerGainsAndResendsRfGain",
     {"-Gl7"},
     {{"rfgain.0", "120"}},
     "LNA Gain is 7\n\rMixer Gain is 7\n\rRF gain 0dB => 26\r\n",
     {"02 4F 07 00 00 00 00", "02 50 07 00 00 00 00", "02 08 1A 00 00 00 00"},
     {{"lna_gain", "7"}, {"mix_gain", "7"}, {"rfgain.0", "26"}}},
    {"MixerFormResendsTheEarlierRfGain",
     {"-G20", "-Gm5"},
     {},
     "RF gain 20dB => 80\r\nMixer Gain is 5\n\rRF gain 20dB => 80\r\n",
     {"02 08 50 00 00 00 00", "02 50 05 00 00 00 00", "02 08 50 00 00 00 00"},
     {{"mix_gain", "5"}, {"lna_gain", "0"}, {"rfgain.0", "80"}}},
    {"TunerGainOutOfRangeSendsNothing",
     {"-Gl300"},
     {},
     "",
     {},
     {{"lna_gain", "0"}, {"mix_gain", "0"}},
     "",
     {},
     1,
     "kestrel: -Gl300: 300 is outside 0 to 255, so nothing was sent; write a number in that range, "
     "as in -Gl7\n"},
    {"IndexSendsDbThenIndex",
     {"-I7"},
     {},
     "RF gain 7dB => 45\r\nRF gain index => 56\r\n",
     {"02 08 2D 00 00 00 00", "02 08 38 00 00 00 00"},
     {{"rfgain.0", "56"}}},
    {"IndexMixerFormOnAChannel",
     {"-C2", "-Im3"},
     {},
     "Mixer Gain is 3\n\rRF gain 0dB => 26\r\nRF gain index => 0\r\n",
     {"02 50 03 00 00 00 00", "02 08 1A 02 00 00 00", "02 08 00 02 00 00 00"},
     {{"mix_gain", "3"}, {"rfgain.2", "0"}, {"rfgain.0", "64"}}},

    // -E.
    {"FeGain",
     {"-E3"},
     {},
     "FE gain 1.600000\r\n",
     {"02 02 07 00 00 00 00"},
     {{"fe_gain", "7"}, {"fe_param", "0"}}},
    {"FeGainOutOfRangeSendsNothing",
     {"-E7", "-E-1"},
     {},
     "",
     {},
     {{"fe_gain", "1"}},
     "",
     {},
     1,
     "kestrel: -E7: 7 is outside 0 to 6, so nothing was sent; write a number in that range, as in "
     "-E3\n"
     "kestrel: -E-1: -1 is outside 0 to 6, so nothing was sent; write a number in that range, as "
     "in -E3\n"},

    // -A.
    {"AgcMask", {"-A3"}, {}, "", {"02 45 03 00 00 00 00"}, {{"agc_mask", "3"}}},
    {"LnaAgcSetsAllThree",
     {"-Al1"},
     {},
     "LNA AGC is On\n\rMixer AGC is On\n\r",
     {"02 52 01 00 00 00 00", "02 53 01 00 00 00 00", "02 45 01 00 00 00 00"},
     {{"lna_agc", "1"}, {"mix_agc", "1"}, {"agc_mask", "1"}}},
    {"LnaAgcOffClearsTheMaskToo",
     {"-Al0"},
     {{"lna_agc", "1"}, {"mix_agc", "1"}, {"agc_mask", "3"}},
     "LNA AGC is Off\n\rMixer AGC is Off\n\r",
     {"02 52 00 00 00 00 00", "02 53 00 00 00 00 00", "02 45 00 00 00 00 00"},
     {{"lna_agc", "0"}, {"mix_agc", "0"}, {"agc_mask", "0"}}},
    {"MixerAgcOff",
     {"-Am0"},
     {{"lna_agc", "1"}, {"mix_agc", "1"}, {"agc_mask", "3"}},
     "Mixer AGC is Off\n\r",
     {"02 53 00 00 00 00 00", "02 45 00 00 00 00 00"},
     {{"lna_agc", "1"}, {"mix_agc", "0"}, {"agc_mask", "0"}}},
    {"UpperCaseSubLetterIsAPlainMask",
     {"-AL1"},
     {{"agc_mask", "3"}},
     "",
     {},
     {{"agc_mask", "3"}, {"lna_agc", "0"}},
     "",
     {},
     1,
     "kestrel: -AL1: \"L1\" is not a number, so nothing was sent; write a number from 0 to 15, "
     "as in -A1\n"},
    {"RfGainPerChannel",
     {"-A?"},
     {{"rfgain.0", "64"}, {"rfgain.1", "7"}, {"rfgain.2", "80"}, {"rfgain.3", "127"}},
     "RF gain per channels:\n\rch[0] = +14dB \r\nch[1] = -10dB \r\nch[2] = +20dB \r\n"
     "ch[3] = +35dB \r\n",
     {"02 46 00 00 00 00 00"},
     {},
     // A 5-byte answer stops before the code of channel 3.
     "RF gain per channels:\n\rch[0] = +14dB \r\nch[1] = -10dB \r\nch[2] = +20dB \r\n"
     "ch[3] = -10dB \r\n"},

    // -B.
    {"LedsOn",
     {"-B0"},
     {{"leds", "1"}},
     "The LEDs is On\r\n",
     {"02 4B 00 00 00 00 00"},
     {{"leds", "0"}}},
    {"LedsOff", {"-B1"}, {}, "The LEDs is Off\r\n", {"02 4B 01 00 00 00 00"}, {{"leds", "1"}}},
    {"LedsOutOfRangeSendsNothing",
     {"-B256"},
     {{"leds", "1"}},
     "",
     {},
     {{"leds", "1"}},
     "",
     {},
     1,
     "kestrel: -B256: 256 is outside 0 to 1, so nothing was sent; write a number in that range, as "
     "in -B1\n"},

    // -D.
    {"SaveDefaults",
     {"-D"},
     {},
     "The default parameters will be saved in SDR's EEPROM.\r\n",
     {"02 0C F3 00 00 00 00"},
     {{"defaults_saved", "1"}}},

    // -J.
    {"SaveMacWord",
     {"-J0x3A35"},
     {},
     "The new MAC will be active after SDR reset: 3A35",
     {"02 5C 35 3A 00 00 00"},
     {{"mac", "0x00003A35"}}},
    {"MacWordWiderThanTwoBytesSendsNothing",
     {"-J12345678"},
     {},
     "",
     {},
     {{"mac", "0x00003A34"}},
     "",
     {},
     1,
     "kestrel: -J12345678: 12345678 is outside 0 to FFFF, so nothing was sent; write a hexadecimal "
     "number in that range, as in -J3A34\n"},
    {"ReadMacWord",
     {"-J?"},
     {{"mac", "0x5"}},
     "MAC word is: 0005\n\r",
     {"02 5D 00 00 00 00 00"},
     {{"mac", "0x00000005"}}},

    // -M.
    {"MainClockTooLow",
     {"-M50000000"},
     {},
     "",
     {},
     {{"eeprom.0", "11520"}, {"eeprom.1", "784"}},
     "",
     {},
     1,
     "kestrel: -M50000000: 50000000 is outside 50000001 to 4294967295, so nothing was sent; write "
     "a number in that range, as in -M122880000\n"},
    {"MainClockSaved",
     {"-M50000001"},
     {},
     "The new Main Clock frequency was saved:  50000001 (Hz)\r\n",
     {"01 56 00 81 F0 00 00", "01 56 01 FA 02 00 00"},
     {{"eeprom.0", "61569"}, {"eeprom.1", "762"}}},

    // -Q.
    {"MultichannelMode",
     {"-Q3"},
     {},
     "The new multichannel mode is Diversity (Single Channel)\r\n",
     {"02 30 03 00 00 00 00"},
     {{"multichannel_mode", "3"}, {"multichannel_channel", "0"}}},
    {"MultichannelModeOnAChannel",
     {"-C1", "-Q5"},
     {},
     "The new multichannel mode is Quad Channel\r\n",
     {"02 30 05 01 00 00 00"},
     {{"multichannel_mode", "5"}, {"multichannel_channel", "1"}}},
    {"MultichannelModeOutOfRange",
     {"-Q6", "-Q-1"},
     {},
     "",
     {},
     {{"multichannel_mode", "0"}},
     "",
     {},
     1,
     "kestrel: -Q6: 6 is outside 0 to 5, so nothing was sent; write a number in that range, as in "
     "-Q0\n"
     "kestrel: -Q-1: -1 is outside 0 to 5, so nothing was sent; write a number in that range, as "
     "in -Q0\n"},

    // -R and -S: the reset ends the run.
    {"ResetEndsTheRun",
     {"-R", "-F7000000"},
     {},
     kResetEnd,
     {kReset},
     {{"resets", "1"}, {"freq.0", "0"}}},
    {"UsbSampleRateSavedThenReset",
     {"-S48000", "-F7000000"},
     {},
     "The new USB sample rate was saved:  48000 (Hz)\r\n" + kResetEnd,
     {"01 56 06 80 BB 00 00", "01 56 07 00 00 00 00", kReset},
     {{"eeprom.6", "48000"},
      {"eeprom.7", "0"},
      {"resets", "1"},
      {"sample_rate", "48000"},
      {"freq.0", "0"}}},
    {"SampleRateTooLowSendsNothing",
     {"-S47999"},
     {},
     "",
     {},
     {{"eeprom.6", "60928"}, {"eeprom.7", "2"}, {"resets", "0"}},
     "",
     {},
     1,
     "kestrel: -S47999: 47999 is outside 48000 to 4294967295, so nothing was sent; write a number "
     "in that range, as in -S192000\n"},
    {"DiversitySampleRateSavedThenReset",
     {"-sd250000"},
     {},
     "The new Diversity sample rate was saved:  250000 (Hz)\r\n" + kResetEnd,
     {"01 56 09 90 D0 00 00", "01 56 0A 03 00 00 00", kReset},
     {{"eeprom.9", "53392"}, {"eeprom.10", "3"}, {"resets", "1"}}},
    {"NewSampleRateGoesOn",
     {"-SN96000", "-F7000000"},
     {},
     "The new  sample rate was set in SDR:  96000 (Hz)\r\n"
     "RX Frequency 7000000 (Hz) for the channel 0\r\n" +
         kAckFrequency,
     {"02 1E 00 77 01 00 00", "03 C0 CF 6A 00 00 00"},
     {{"sample_rate", "96000"}, {"freq.0", "7000000"}, {"resets", "0"}}},
    {"NewSampleRateTooLowSendsNothing",
     {"-sn1000", "-F7000000"},
     {},
     "RX Frequency 7000000 (Hz) for the channel 0\r\n" + kAckFrequency,
     {"03 C0 CF 6A 00 00 00"},
     {{"sample_rate", "192000"}, {"freq.0", "7000000"}, {"resets", "0"}},
     "",
     {},
     1,
     "kestrel: -sn1000: 1000 is outside 48000 to 4294967295, so nothing was sent; write a number "
     "in that range, as in -sn96000\n"},

    // -U.
    {"UsbModeDrive",
     {"-U0"},
     {{"usb_mode", "1"}},
     "The new mode is USB MSD ...\r\n",
     {"02 44 00 00 00 00 00"},
     {{"usb_mode", "0"}}},
    {"UsbModeAudio",
     {"-U1"},
     {},
     "The new mode is USB Audio...\r\n",
     {"02 44 01 00 00 00 00"},
     {{"usb_mode", "1"}}},
    {"UsbModeTwoEndsTheRun",
     {"-U2", "-F7000000"},
     {},
     "SDR will be restarted in OpenHPSDR mode!\n\r",
     {"02 44 02 00 00 00 00"},
     {{"resets", "1"}, {"freq.0", "0"}}},

    // -X.
    {"StreamStart",
     {"-X1"},
     {},
     "The Data stream has been started\r\nStream start/stop=> 1\n\r",
     {"02 1A 01 00 00 00 00"},
     {{"stream", "1"}}},
    {"StreamStop",
     {"-X0"},
     {{"stream", "1"}},
     "The Data stream has been stopped\r\nStream start/stop=> 0\n\r",
     {"02 1A 00 00 00 00 00"},
     {{"stream", "0"}}},
};

class SettingsTest : public ::testing::TestWithParam<std::tuple<Link, size_t>> {};

TEST_P(SettingsTest, PrintsSendsAndSets) {
    const Link link = std::get<0>(GetParam());
    const SettingCase &c = kCases[std::get<1>(GetParam())];
    Receiver rx(link, c.initial);

    RunResult r = rx.run(c.args);
    rx.settle();

    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    const std::string &out = link == Link::Hid5 && !c.out_5.empty() ? c.out_5 : c.out;
    EXPECT_EQ(r.out, banner() + rx.open_text() + out);
    std::vector<std::string> expected;
    for (const std::string &report : c.requests)
        expected.push_back(rx.on_the_wire(report));
    EXPECT_EQ(rx.requests(), expected);
    const KeyValues &state = link == Link::Hid5 && !c.state_5.empty() ? c.state_5 : c.state;
    for (const auto &[key, value] : state)
        EXPECT_EQ(rx.state(key), value) << key;
}

// Every case on every link; over TCP not those with -F, -SN or -X, which
// travel as network messages of their own there, nor the sample-rate saves,
// whose reset the link waits out (tcp_test.cpp has them).
std::vector<std::tuple<Link, size_t>> every_case() {
    std::vector<std::tuple<Link, size_t>> params;
    for (Link link : {Link::Hid7, Link::Hid5, Link::Drive, Link::Tcp}) {
        for (size_t i = 0; i < std::size(kCases); i++) {
            bool control_item = false;
            for (const std::string &a : kCases[i].args) {
                const char letter = static_cast<char>(toupper(a.size() > 1 ? a[1] : 0));
                control_item |= letter == 'F' || letter == 'X' || letter == 'S';
            }
            if (link != Link::Tcp || !control_item)
                params.emplace_back(link, i);
        }
    }
    return params;
}

INSTANTIATE_TEST_SUITE_P(EveryOption, SettingsTest, ::testing::ValuesIn(every_case()),
                         [](const ::testing::TestParamInfo<SettingsTest::ParamType> &param_info) {
                             return std::string(kCases[std::get<1>(param_info.param)].name) + "_" +
                                    link_name(std::get<0>(param_info.param));
                         });

// A receiver that never answers: every read ends in the time-out line, and
// each operation still finishes and prints its confirmation with what it got.
TEST(SilentReceiver, OperationsCarryOnAfterTheTimeOut) {
    Receiver rx(Link::Hid7, {}, {.silent = true});
    RunResult r = rx.run({"-F7000000", "-J?"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner() + rx.open_text() +
                         "RX Frequency 7000000 (Hz) for the channel 0\r\n"
                         "USB IO timeout!\r\n"
                         "USB IO timeout!\r\n"
                         "MAC word is: FFFFFFFF\n\r");
    EXPECT_EQ(rx.requests(),
              (std::vector<std::string>{"03 C0 CF 6A 00 00 00", "02 5D 00 00 00 00 00"}));
    EXPECT_EQ(rx.state("freq.0"), "7000000"); // the request acted all the same
}

TEST(SilentReceiver, GainReadBackTakesTheTimeOutAsAllOnes) {
    Receiver rx(Link::Drive, {}, {.silent = true});
    RunResult r = rx.run({"-A?"});
    rx.settle();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              banner() + rx.open_text() +
                  "USB IO timeout!\r\n"
                  "RF gain per channels:\n\r"
                  "ch[0] = +83dB \r\nch[1] = +83dB \r\nch[2] = +83dB \r\nch[3] = +83dB \r\n");
    EXPECT_EQ(rx.requests(), std::vector<std::string>{"02 46 00 00 00 00 00"});
}

} // namespace
} // namespace e2e
