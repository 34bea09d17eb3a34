#pragma once

#include "dialogs/AutoPortDialog.h"
#include "vornal/config/Config.h"
#include "vornal/worker/Startup.h"

#include "TabSupport.h"
#include <QStringList>

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;

namespace vornal::prefs {
class AbstractPreferences;
}

namespace vornal {

// What the serial library reports when asked for the ports.
using PortListing = worker::PortListing;

// The Input tab: the port (serial ports of the system and network ports used lately), the
// instrument preset, the port settings, the input terminator and encoding, port detection and the
// custom expression.
class InputPanel : public QWidget {
    Q_OBJECT
public:
    // What the tab asks of the window.
    struct Services {
        std::function<PortListing()> listPorts;
        // Why a port cannot be chosen (another instrument of the station uses it), or an empty text.
        std::function<QString(const QString& port)> portRefused;
        AutoPortDialog::DetectionFactory detection;
        // The lines received last, for the expression dialog.
        std::function<QStringList()> lastReceivedLines;
        // A new preset was chosen (`changed`: another than before).
        std::function<void(const config::ConfigHelper::Instrument&, bool changed)> instrumentChosen;
        // The window is closing: no dialogs.
        std::function<bool()> closing;
    };

    InputPanel(const TabTexts& texts, config::Config& config, Services services, QWidget* parent = nullptr);

    QStringList ports() const { return ports_; }
    void setPorts(const QStringList& ports) { ports_ = ports; }
    // Network ports used lately (newest first), kept in the settings node apart from the settings.
    void loadRecentNetworkPorts(std::shared_ptr<prefs::AbstractPreferences> node);
    void rememberNetworkPort(const QString& port);
    // Shows the ports and selects the record's.
    void fillPortList();
    // The record takes the port shown (also a typed network port).
    void readPort();
    void readInstrument();
    void fillInputTerminator();
    // Stores the terminator shown; a refused one is restored (and reported when `showErrors`).
    bool acceptInputTerminator(bool showErrors);
    // The marker next to "Customize..." shows while a custom expression replaces the preset's.
    void showCustomRegExMarker();

    // Handlers (tests call them as a click would).
    void autoButtonActionPerformed();
    void customizeButtonActionPerformed();

    QComboBox* portList;
    QComboBox* instrumentBox;
    QComboBox* bitRateBox;
    QComboBox* dataBitsBox;
    QComboBox* stopBitsBox;
    QComboBox* parityBox;
    QComboBox* flowControlBox;
    QComboBox* inputTerminatorBox;
    QComboBox* inputEncodingBox;
    QPushButton* autoButton;
    QPushButton* defaultButton;
    QPushButton* refreshPortsButton;
    QPushButton* customizeButton;
    QLabel* customRegExMarker;

signals:
    // A typed port name was refused (the reason, for the status line).
    void statusMessage(const QString& text);
    // The port list was read again: the port no longer comes from the command line.
    void portsRefreshed();

private:
    void portListItemStateChanged();
    // Stores `port` unless another instrument uses it (then says so and shows the stored port again).
    void choosePort(const QString& port);
    void instrumentBoxItemStateChanged(int index);
    void inputTerminatorBoxItemStateChanged();
    void defaultButtonActionPerformed();
    void refreshPortsButtonActionPerformed();

    TabTexts texts_;
    config::Config& config_;
    Services services_;
    QStringList ports_;
    QStringList recentNetworkPorts_;
    std::shared_ptr<prefs::AbstractPreferences> node_;
    bool terminatorCheckRunning_ = false;
};

} // namespace vornal
