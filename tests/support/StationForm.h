// A receiving form of two fields (barcode, weight) for the tests of a station typing into it: the
// barcode reader ends its value with TAB, the balance with ENTER.
#pragma once

#include <QLineEdit>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>
#include <QtGlobal>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vornal::test {

// A form of two fields; Enter in the second records the row and begins the next one in the first.
class StationForm : public QWidget {
public:
    StationForm() {
        auto* layout = new QVBoxLayout(this);
        barcode = new QLineEdit;
        weight = new QLineEdit;
        barcode->setObjectName(QStringLiteral("barcode"));
        weight->setObjectName(QStringLiteral("weight"));
        layout->addWidget(barcode);
        layout->addWidget(weight);
        // Enter in the first field would be a barcode without its weight: recorded as a broken row.
        QObject::connect(barcode, &QLineEdit::returnPressed, [this] {
            rows.push_back({barcode->text(), QStringLiteral("<Enter in the barcode field>")});
            barcode->clear();
        });
        QObject::connect(weight, &QLineEdit::returnPressed, [this] {
            rows.push_back({barcode->text(), weight->text()});
            barcode->clear();
            weight->clear();
            barcode->setFocus();
        });
    }
    QLineEdit* barcode;
    QLineEdit* weight;
    std::vector<std::pair<QString, QString>> rows;
};

// The number of pairs a form test types: VORNAL_STATION_PAIRS, 1,000 by default.
inline int stationPairs() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("VORNAL_STATION_PAIRS", &ok);
    return ok && n > 0 ? n : 1000;
}

// The simulator script of the station: the scanner (port SCANNER) reads a code every 80 ms; the balance
// (port BALANCE) gives its weight 40 ms after each code (from its own open, a few milliseconds after the
// scanner's). Row i holds the code 4006381000001 + i and the weight 10.000 + 0.001 i.
inline std::string stationScript(int pairs) {
    std::ostringstream s;
    s << "port SCANNER\nvalue b 4006381000001 step=1\nrepeat " << pairs
      << "\n  wait 80ms\n  send \"{b}\\r\"\nend\n"
      << "port BALANCE\nvalue w 10.000 step=0.001\nwait 40ms\nrepeat " << pairs
      << "\n  wait 80ms\n  send \"ST,GS,+  {w} g\\r\"\nend\n";
    return s.str();
}

} // namespace vornal::test
