#pragma once

// One name for the option sets (OptionSets.h), the text rules of the free options (TextRules.h,
// RequestHotkey.h) and the instrument presets (InstrumentPresets.h): ConfigHelper::BitRates,
// ConfigHelper::Delay, ConfigHelper::Instrument, ...

#include "vornal/config/InstrumentPresets.h"
#include "vornal/config/OptionSets.h"
#include "vornal/config/RequestHotkey.h"
#include "vornal/config/TextRules.h"

namespace vornal::config {

// The value sets of every option, the text rules of the free options and the instrument presets.
// Display texts come from the bundle "vornal.config.ConfigBundle", looked up once on first use in the
// language of ResourceBundle::locale(). All operations are pure and may be called from any thread.
class ConfigHelper {
public:
    // ---- serial port, connection, output and processing sets ----
    using BitRates = options::BitRates;
    using DataBits = options::DataBits;
    using StopBits = options::StopBits;
    using Parity = options::Parity;
    using Handshake = options::Handshake;
    using InputTerminator = options::InputTerminator;
    using Connect = options::Connect;
    using DecimalSeparator = options::DecimalSeparator;
    using StartWith = options::StartWith;
    using OutputTerminator = options::OutputTerminator;
    using Sound = options::Sound;
    using KeyboardType = options::KeyboardType;
    using InputEncoding = options::InputEncoding;
    using MathOperation = options::MathOperation;
    using RoundingMethod = options::RoundingMethod;
    using EditOperation = options::EditOperation;
    using EditPosition = options::EditPosition;

    // ---- free-text options ----
    using MathOperand = rules::MathOperand;
    using DecimalPlaces = rules::DecimalPlaces;
    using EditNumCharacters = rules::EditNumCharacters;
    using RemoveCharacters = rules::RemoveCharacters;
    using EveryXValues = rules::EveryXValues;
    using IgnoreDifference = rules::IgnoreDifference;
    using IgnoreTimeLimit = rules::IgnoreTimeLimit;
    using Delay = rules::Delay;
    using CustomRegEx = rules::CustomRegEx;
    using RequestCommand = rules::RequestCommand;
    using RequestHotkey = rules::RequestHotkey;
    using RequestEverySeconds = rules::RequestEverySeconds;

    // ---- instrument presets ----
    using InstrumentType = presets::InstrumentType;
    using KeyMapType = presets::KeyMapType;
    using Instrument = presets::Instrument;

    // ---- helpers ----

    // The virtual key code of a key constant name ("ENTER" 10, "TAB" 9, "F12" 123, ...); 0 for "NONE" and
    // every other text.
    static int getKeyEvent(const QString& constantName);

    // Every key the option sets and presets look up in "vornal.config.ConfigBundle" (for a resource check).
    static QStringList bundleKeys();

    // Forgets the looked-up display texts so that the next use reads them again in the current language.
    // For tests that switch ResourceBundle::setLocale; not needed in the program.
    static void reloadTexts();
};

} // namespace vornal::config
