#pragma once

// The instrument presets: for each of the instruments of the instrument list its port settings,
// extraction pattern, sample lines, stability rule and request command. Callers name them through
// ConfigHelper (ConfigHelper::Instrument, ...).

#include "vornal/config/OptionSet.h"

#include <QRegularExpression>
#include <QStringList>

namespace vornal::config {

class Config; // the settings record (Config.h)

// The port defaults of an instrument preset: indices into BitRates, DataBits, StopBits, Parity and
// Handshake, and the input terminator's character code (0..255).
struct PortDefaults {
    int bitRate;
    int dataBits;
    int stopBits;
    int parity;
    int inputTerminator;
    int handshake;
    friend bool operator==(const PortDefaults&, const PortDefaults&) = default;
};

// One sample data line of an instrument and the value that extraction must give ("" = no value).
struct TestString {
    QString line;
    QString expected;
};

// One sample data line and whether the instrument marked it as stable.
struct StabilitySample {
    QString line;
    bool stable;
};

namespace presets {

// Whether a preset's value is a number (numeric stages, plain worker) or free text (barcode worker).
class InstrumentType : public detail::NameStyle<InstrumentType> {
    VORNAL_OPTION_SET(InstrumentType, NameStyle, 2, 0)
    static const InstrumentType NUMBER, TEXT;
};

// Which character-to-key map the keystroke output uses.
class KeyMapType : public detail::NameStyle<KeyMapType> {
    VORNAL_OPTION_SET(KeyMapType, NameStyle, 3, 0)
    static const KeyMapType NUMERIC, ALPHANUMERIC_BASIC, ALPHANUMERIC_COMPLETE;
};

// The 53 instrument presets, in the order of the instrument list. Default GENERIC.
class Instrument : public detail::NameStyle<Instrument> {
    VORNAL_OPTION_SET(Instrument, NameStyle, 53, 0)
    static const Instrument GENERIC, BARCODE, BARCODE_ALPHA, BARCODE_ALPHA_COMPLETE, AND, AND_SIMPLE, AND_EM,
        ACCULAB_AL, ADAM_AZEXTRA_WEIGHT, ADAM_CBK, ADAM_CPWPLUS, ADAM_GC_WEIGHT, ADAM_GC_PCS, ADAM_HCB,
        ADAM_LABEL, DENVER, DINI_ARGEO, DINI_ARGEO_DFW, KERND_440E, KERN_572, KERN_573, KERN_SHIMADZU,
        KERND_DE, KERN_DS, KERN_FKB, KERN_KB_N, KERN_KCP, KERN_KFB, KERN_MPS, KERN_RPB, KEYENCE_IL, MARS,
        METTLER_SICS, METTLER_DIALOG, METTLER_PRINT, MITUTOYO, MITUTOYO_LSM_6200, MYWEIGH_HD, MYWEIGH_ULTRA2,
        OHAUS, OHAUSSPU, PRECISA, RADWAG, RICE_LAKE_1280, SARTORIUS, SARTORIUS_ENTRIS, SARTORIUS_SBI,
        SARTORIUS_SICS, SMA_SCP, SHIMADZU, SCHLAGE_HANDPUNCH, TANITA_TL280, WEDDERBURN;

    // Number of the pattern group whose text is the value: 1 for every preset.
    int getCaptureGroup() const { return 1; }
    // The usual port settings of the instrument.
    PortDefaults getPortDefaults() const;
    // A fresh settings record (default constructor) with only the port fields set from
    // getPortDefaults(). Defined with the settings record, in Config.cpp.
    Config getDefaultConfig() const;
    // The hint text shown by the default-settings button, or none.
    std::optional<QString> getDefaultMessage() const;
    // The bundle key of the hint text, or "" when the preset has none.
    QString getDefaultMessageKey() const;
    InstrumentType getInstrumentType() const;
    KeyMapType getKeyMapType() const;
    // The extraction pattern as text, in the instruments' regular-expression dialect.
    QString getPattern() const;
    // getPattern() compiled once for this process (see compileInstrumentPattern).
    const QRegularExpression& getRegularExpression() const;
    // Sample data lines and the value each must give; one pair of empty texts when the preset has none.
    std::vector<TestString> getTestStrings() const;
    // The stability rule: an expression (instruments' dialect) that finds a match in a line the
    // instrument marked as stable, e.g. the "ST," header of a balance; "" when the instrument marks
    // no stability (the stable-reading options are then off).
    QString getStabilityPattern() const;
    bool hasStabilityRule() const { return !getStabilityPattern().isEmpty(); }
    // getStabilityPattern() compiled once for this process; an invalid expression when there is none.
    const QRegularExpression& getStabilityExpression() const;
    // Sample lines and whether the instrument marked each as stable; empty without a rule.
    std::vector<StabilitySample> getStabilitySamples() const;
    // The command that asks the instrument for a reading, in the notation of requestCommand
    // ("S<13><10>");
    // "" when the instrument sends only on its own.
    QString getRequestCommand() const;
    // The display name.
    QString toPlainString() const { return displayOf(ordinal()); }
    // The text of the instrument list: the display name; text presets in italics through HTML.
    QString toString() const;
};

// Every key the presets look up in "vornal.config.ConfigBundle".
QStringList bundleKeys();

// ---- the constants ----

inline constexpr InstrumentType InstrumentType::NUMBER{0};
inline constexpr InstrumentType InstrumentType::TEXT{1};

inline constexpr KeyMapType KeyMapType::NUMERIC{0};
inline constexpr KeyMapType KeyMapType::ALPHANUMERIC_BASIC{1};
inline constexpr KeyMapType KeyMapType::ALPHANUMERIC_COMPLETE{2};

inline constexpr Instrument Instrument::GENERIC{0};
inline constexpr Instrument Instrument::BARCODE{1};
inline constexpr Instrument Instrument::BARCODE_ALPHA{2};
inline constexpr Instrument Instrument::BARCODE_ALPHA_COMPLETE{3};
inline constexpr Instrument Instrument::AND{4};
inline constexpr Instrument Instrument::AND_SIMPLE{5};
inline constexpr Instrument Instrument::AND_EM{6};
inline constexpr Instrument Instrument::ACCULAB_AL{7};
inline constexpr Instrument Instrument::ADAM_AZEXTRA_WEIGHT{8};
inline constexpr Instrument Instrument::ADAM_CBK{9};
inline constexpr Instrument Instrument::ADAM_CPWPLUS{10};
inline constexpr Instrument Instrument::ADAM_GC_WEIGHT{11};
inline constexpr Instrument Instrument::ADAM_GC_PCS{12};
inline constexpr Instrument Instrument::ADAM_HCB{13};
inline constexpr Instrument Instrument::ADAM_LABEL{14};
inline constexpr Instrument Instrument::DENVER{15};
inline constexpr Instrument Instrument::DINI_ARGEO{16};
inline constexpr Instrument Instrument::DINI_ARGEO_DFW{17};
inline constexpr Instrument Instrument::KERND_440E{18};
inline constexpr Instrument Instrument::KERN_572{19};
inline constexpr Instrument Instrument::KERN_573{20};
inline constexpr Instrument Instrument::KERN_SHIMADZU{21};
inline constexpr Instrument Instrument::KERND_DE{22};
inline constexpr Instrument Instrument::KERN_DS{23};
inline constexpr Instrument Instrument::KERN_FKB{24};
inline constexpr Instrument Instrument::KERN_KB_N{25};
inline constexpr Instrument Instrument::KERN_KCP{26};
inline constexpr Instrument Instrument::KERN_KFB{27};
inline constexpr Instrument Instrument::KERN_MPS{28};
inline constexpr Instrument Instrument::KERN_RPB{29};
inline constexpr Instrument Instrument::KEYENCE_IL{30};
inline constexpr Instrument Instrument::MARS{31};
inline constexpr Instrument Instrument::METTLER_SICS{32};
inline constexpr Instrument Instrument::METTLER_DIALOG{33};
inline constexpr Instrument Instrument::METTLER_PRINT{34};
inline constexpr Instrument Instrument::MITUTOYO{35};
inline constexpr Instrument Instrument::MITUTOYO_LSM_6200{36};
inline constexpr Instrument Instrument::MYWEIGH_HD{37};
inline constexpr Instrument Instrument::MYWEIGH_ULTRA2{38};
inline constexpr Instrument Instrument::OHAUS{39};
inline constexpr Instrument Instrument::OHAUSSPU{40};
inline constexpr Instrument Instrument::PRECISA{41};
inline constexpr Instrument Instrument::RADWAG{42};
inline constexpr Instrument Instrument::RICE_LAKE_1280{43};
inline constexpr Instrument Instrument::SARTORIUS{44};
inline constexpr Instrument Instrument::SARTORIUS_ENTRIS{45};
inline constexpr Instrument Instrument::SARTORIUS_SBI{46};
inline constexpr Instrument Instrument::SARTORIUS_SICS{47};
inline constexpr Instrument Instrument::SMA_SCP{48};
inline constexpr Instrument Instrument::SHIMADZU{49};
inline constexpr Instrument Instrument::SCHLAGE_HANDPUNCH{50};
inline constexpr Instrument Instrument::TANITA_TL280{51};
inline constexpr Instrument Instrument::WEDDERBURN{52};

} // namespace presets
} // namespace vornal::config
