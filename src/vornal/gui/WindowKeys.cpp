// Every bundle key the window program looks up: checked at start-up, so that a damaged installation
// is said at once instead of showing keys in place of texts.
#include "WindowKeys.h"
#include "VororaZeZovFrame2.h"

#include "dialogs/DialogTexts.h"

namespace vornal {

namespace windowkeys {

// The tab titles and mnemonic keys in tab order.
const TabDef kTabs[7] = {
    {"VororaZeZovFrame2.panel1.tab.title", "VororaZeZovFrame2.StartTabMnemonic"},
    {"VororaZeZovFrame2.inputPanel.tab.title", "VororaZeZovFrame2.InputTabMnemonic"},
    {"VororaZeZovFrame2.processingPanel.tab.title", "VororaZeZovFrame2.ProcessTabMnemonic"},
    {"VororaZeZovFrame2.outputPanel.tab.title", "VororaZeZovFrame2.OutputTabMnemonic"},
    {"VororaZeZovFrame2.settingsPanel.tab.title", "VororaZeZovFrame2.SettingsTabMnemonic"},
    {"VororaZeZovFrame2.eventLogPanel.tab.title", "VororaZeZovFrame2.EventLogTabMnemonic"},
    {"VororaZeZovFrame2.aboutPanel.tab.title", "VororaZeZovFrame2.AboutTabMnemonic"},
};

// The controls with a tool tip that show no setting (those that do are in settingControls()).
const char* const kButtonToolTips[kButtonToolTipCount] = {
    "startStopJButton", "autoButton",         "defaultButton",        "refreshPortsButton",
    "customizeButton",  "adjustIgnoreButton", "importSettingsButton", "exportSettingsButton"};

} // namespace windowkeys

namespace {

using namespace windowkeys;
using config::ConfigHelper;

// The prefix of the window's keys, written out: a copy of TabTexts::kFrame might be made before it is set.
const QString kFrame = QStringLiteral("VororaZeZovFrame2.");

// Label fields with their keys, in tab order (label1 has the fixed text "Updates:").
const char* const kLabels[] = {
    "label2",  "deviceLabel",     "label3",         "label6",  "label7",  "label8",  "label9",
    "label10", "label14",         "label36",        "label24", "label25", "label15", "label16",
    "label22", "label29",         "label30",        "label31", "label32", "label4",  "label5",
    "label17", "prefixKeysLabel", "prefixKeysHint", "label18", "label23", "label26", "label27",
    "label33", "label34",         "label35",        "label37", "label13", "label28", "label38"};

// Buttons and check boxes with a caption.
const char* const kCaptions[] = {"startStopJButton",
                                 "autoButton",
                                 "defaultButton",
                                 "refreshPortsButton",
                                 "customizeButton",
                                 "ignoreDuplicatesCheckBox",
                                 "adjustIgnoreButton",
                                 "manualConnectButton",
                                 "autoConnectButton",
                                 "minimizeToTrayCheckBox",
                                 "notifyWhenMinimizedToTrayCheckBox",
                                 "checkForUpdatesCheckBox",
                                 "abortAutoStartCheckBox",
                                 "reconnectCheckBox",
                                 "importSettingsButton",
                                 "exportSettingsButton"};

// Messages and titles of the window.
const char* const kMessages[] = {"error",
                                 "warning",
                                 "info",
                                 "fatal.error",
                                 "library.vazedo.not.found.or.not.matching.your.system",
                                 "program.will.now.exit",
                                 "no.rs.232.port.found.on.your.system.program.will.now.exit",
                                 "error.listing.available.ports",
                                 "error.while.loading.settings",
                                 "invalid.setting.found",
                                 "access.error.while.loading.settings",
                                 "autosave.error",
                                 "access.error.while.saving.settings",
                                 "please.enter.number.of.decimal.places.for.rounding.or.disable.division",
                                 "no.default.values.available.for.this.device",
                                 "terminator.must.be.between.0.and.255",
                                 "info.delay.keyboard.all",
                                 "error.intercharacter.delay",
                                 "error.initializing.keyboard.output",
                                 "please.turn.off.caps.lock",
                                 "error.while.initializing.sound.output",
                                 "sound.output.error",
                                 "error.opening.port",
                                 "invalid.setting",
                                 "keyboard.output.started.type",
                                 "previously.used.port.0.no.longer.available.naborting.auto.start",
                                 "internal.error",
                                 "switch.to.target.application",
                                 "line.count",
                                 "values.waiting.0",
                                 "VororaZeZovFrame2.keyBackendBox.auto",
                                 "VororaZeZovFrame2.keyBackendBox.wayland",
                                 "VororaZeZovFrame2.keyBackendBox.portal",
                                 "VororaZeZovFrame2.keyBackendBox.x11",
                                 "VororaZeZovFrame2.keyBackendBox.windows",
                                 "typing.held.status",
                                 "typing.behind.status",
                                 "custom.regex.in.use",
                                 "checking.for.update",
                                 "update.available",
                                 "update.check.failed",
                                 "VororaZeZovFrame2.startStopJButton.textStop",
                                 "VororaZeZovFrame2.statusJLabel.text",
                                 "VororaZeZovFrame2.inputTerminatorBox.prototypeDisplayValue",
                                 "VororaZeZovFrame2.label12.text_2",
                                 "VororaZeZovFrame2.aboutPane.text"};

// Texts of the Start tab's summary, the placement rule, the connection's state in the status line and
// the keyboard help.
const char* const kStatusKeys[] = {"readings.placementRule.zero",
                                   "readings.placementRule.difference",
                                   "connection.waiting.0.1",
                                   "connection.lost.0.1",
                                   "connection.lost.caption",
                                   "connection.reconnected.0",
                                   "connection.reconnected.caption",
                                   "tray.waiting.0",
                                   "tray.idle",
                                   "window.title",
                                   "readings.dataLogMaxBytes.unit",
                                   "readings.dataLogFile.filter",
                                   "VororaZeZovFrame2.label1.text",
                                   "confirm.overwrite.custom.regex",
                                   "confirm",
                                   "defaults.title",
                                   "settings.store.failed",
                                   "custom.regex.log",
                                   "start.summary.0.1.2",
                                   "start.summary.noPort",
                                   "start.hint.noTerminator",
                                   "start.profiles.add",
                                   "start.profiles.add.toolTip",
                                   "start.profiles.rename",
                                   "start.profiles.remove",
                                   "start.profiles.startAll",
                                   "start.profiles.stopAll",
                                   "start.profiles.start",
                                   "start.profiles.stop",
                                   "start.profiles.column.name",
                                   "start.profiles.column.port",
                                   "start.profiles.column.state",
                                   "start.profiles.column.value",
                                   "profile.state.idle",
                                   "profile.state.connecting",
                                   "profile.state.connected",
                                   "profile.state.waiting",
                                   "profile.add.title",
                                   "profile.add.label",
                                   "profile.rename.title",
                                   "profile.rename.label",
                                   "profile.remove.confirm.0",
                                   "profile.max.0",
                                   "profile.name.empty",
                                   "profile.name.long.0",
                                   "profile.name.control",
                                   "profile.name.taken.0",
                                   "profile.port.used.0.1",
                                   "tray.station.0.1",
                                   "values.waiting.one",
                                   "status.dataLog.failing.0",
                                   "value.cut.status.0",
                                   "value.cut.caption",
                                   "typing.stopped.status.0",
                                   "typing.stopped.caption"};

// The worker messages the program uses.
const char* const kWorkerKeys[] = {"port.opened",
                                   "null.port.error",
                                   "parity.error",
                                   "framing.error",
                                   "unsent.data",
                                   "interrupted",
                                   "execution.exception",
                                   "stopped",
                                   "typing.held",
                                   "typing.behind.0.1",
                                   "typing.behind.one.1",
                                   "typing.held.backlog.0.1",
                                   "typing.held.backlog.one.1",
                                   "cannot_type.useAll",
                                   "value.cut.0",
                                   "and.error.unusual",
                                   "and.error.dataset.not.ready",
                                   "and.error.not.connected",
                                   "warning",
                                   "auto.port.detection.started",
                                   "testing.port.0",
                                   "confidence",
                                   "best.port",
                                   "could.not.auto.detect.port",
                                   "modem.lines.0.1.2",
                                   "modem.lines.unavailable.0.1",
                                   "line.on",
                                   "line.off",
                                   "line.na",
                                   "port.gone.closed.0.1",
                                   "barcode.parity.error",
                                   "barcode.framing.error",
                                   "port.gone.waiting.0.1",
                                   "reconnected.0",
                                   "stable.once.per.placement",
                                   "stable.only",
                                   "stable.no.rule",
                                   "data.log.0",
                                   "request.sent.0",
                                   "request.failed.0",
                                   "request.every.0",
                                   "request.socket.unavailable.0",
                                   "hotkey.sends.0",
                                   "hotkey.unusable.0.1",
                                   "request.no.command",
                                   "request.not.connected",
                                   "typing.through.0",
                                   "typing.not.through.0",
                                   "typing.warning.0",
                                   "typing.no.focus",
                                   "typing.modifiers.held",
                                   "typing.wait.no.focus",
                                   "typing.wait.modifiers",
                                   "typing.lost.0",
                                   "typing.lost.reason.0",
                                   "connection.ends.0",
                                   "typing.part.0.1",
                                   "not.typed.refused.0.1",
                                   "not.typed.output.stopped.0",
                                   "not.typed.connection.stopped.0",
                                   "typed.after.stop.0",
                                   "value.cut.detail.0",
                                   "result.partly.0.1",
                                   "result.cut.terminator.0",
                                   "result.cut.0.1",
                                   "result.not.typed.0.1",
                                   "result.refused.0.1",
                                   "reason.stopped",
                                   "reason.output.lost",
                                   "key.error.typing.0.1",
                                   "key.error.press.0.1.2",
                                   "key.error.release.0.1.2",
                                   "key.error.alt.0.1.2",
                                   "key.error.deadkey.0",
                                   "backend.unavailable.0.1.2",
                                   "backend.none.other",
                                   "backend.available.0",
                                   "backend.portal.not.tried",
                                   "port.used.by.others.0.1",
                                   "values.dropped.0.1",
                                   "values.dropped.more.0",
                                   "value.resumes.after.stop.0",
                                   "request.command.missing",
                                   "request.socket.open.again",
                                   "request.socket.failed.0.1",
                                   "request.socket.taken.over",
                                   "request.socket.held.0.1",
                                   "request.socket.other.connection",
                                   "request.socket.cannot.listen.0.1",
                                   "request.socket.no.folder.0.1",
                                   "folder.not.folder",
                                   "folder.other.user",
                                   "folder.open.to.others",
                                   "peer.user.0",
                                   "peer.unknown",
                                   "data.log.written.again.0.1.2.3.4",
                                   "data.log.failing.0.1"};

} // namespace

QList<QPair<QString, QStringList>> VororaZeZovFrame2::requiredKeys(const QString& windowBundle) {
    QStringList window;
    for (const auto& t : kTabs) {
        window += QString::fromLatin1(t.title);
        window += QString::fromLatin1(t.mnemonic);
    }
    for (const char* l : kLabels)
        window += kFrame + QString::fromLatin1(l) + QStringLiteral(".text");
    for (const char* c : kButtonToolTips)
        window += kFrame + QString::fromLatin1(c) + QStringLiteral(".toolTipText");
    for (const SettingControl& row : settingControls())
        if (!row.ownToolTip)
            window += kFrame + QString::fromLatin1(row.control) + QStringLiteral(".toolTipText");
    for (const char* c : kCaptions)
        window += kFrame + QString::fromLatin1(c) + QStringLiteral(".text");
    for (const char* m : kMessages)
        window += QString::fromLatin1(m);
    for (const char* m : kStatusKeys)
        window += QString::fromLatin1(m);
    // The option dialogs, validated fields, tray balloon and settings file dialogs.
    for (const QString& k : DialogTexts::requiredKeys())
        if (!window.contains(k))
            window += k;
    QStringList workerKeys;
    for (const char* k : kWorkerKeys)
        workerKeys += QString::fromLatin1(k);
    return {{windowBundle, window},
            {QStringLiteral("vornal.config.ConfigBundle"), ConfigHelper::bundleKeys()},
            {QStringLiteral("vornal.worker.WorkerBundle"), workerKeys}};
}

} // namespace vornal
