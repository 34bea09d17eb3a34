#pragma once

#include "TabSupport.h"

#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vornal {
namespace config {
class Config;
}

// The Start tab: the start/stop button, the request button, and what a start will use. A station of
// several instruments also lists them (name, port, state, last value) with a Start/Stop of each,
// Start all and Stop all; a station of one looks as it always did, with a button to add an instrument.
class StartPanel : public QWidget {
    Q_OBJECT
public:
    explicit StartPanel(const TabTexts& texts, QWidget* parent = nullptr);

    // Says which port, instrument and terminator a start uses, and warns where values would run
    // together.
    void showSummary(const config::Config& config);

    // One row of the instruments' list.
    struct Row {
        QString name;
        QString port;
        QString state;
        QString lastValue;
        // Running (or connecting, or waiting for its port): its button says Stop.
        bool active = false;
    };
    // The instruments, `selected` marked. With one instrument the list is hidden.
    void showProfiles(const std::vector<Row>& rows, int selected);
    // The state and the last value of one row (a line arrived, a state changed).
    void updateRow(int index, const Row& row);
    // Whether another instrument may be added.
    void setCanAdd(bool can);

    QPushButton* startStopButton() const { return startStop_; }
    QPushButton* requestButton() const { return request_; }
    QTreeWidget* profileTable() const { return table_; }

signals:
    void profileSelected(int index);
    void addRequested();
    void renameRequested(int index);
    void removeRequested(int index);
    void startStopRequested(int index);
    void startAllRequested();
    void stopAllRequested();

private:
    void showContextMenu(const QPoint& at);
    int currentIndex() const;

    TabTexts texts_;
    QPushButton* startStop_;
    QPushButton* request_;
    QLabel* summary_;
    QLabel* hint_;
    QWidget* station_;
    QTreeWidget* table_;
    QPushButton* add_;
    QPushButton* rename_;
    QPushButton* remove_;
    QPushButton* startAll_;
    QPushButton* stopAll_;
};

} // namespace vornal
