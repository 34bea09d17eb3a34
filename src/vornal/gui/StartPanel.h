#pragma once

#include "TabSupport.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace vornal {
namespace config {
class Config;
}

// The Start tab: the start/stop button, the request button, and what a start will use.
class StartPanel : public QWidget {
    Q_OBJECT
public:
    explicit StartPanel(const TabTexts& texts, QWidget* parent = nullptr);

    // Says which port, instrument and terminator a start uses, and warns where values would run
    // together.
    void showSummary(const config::Config& config);

    QPushButton* startStopButton() const { return startStop_; }
    QPushButton* requestButton() const { return request_; }

private:
    TabTexts texts_;
    QPushButton* startStop_;
    QPushButton* request_;
    QLabel* summary_;
    QLabel* hint_;
};

} // namespace vornal
