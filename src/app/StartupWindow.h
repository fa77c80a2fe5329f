#pragma once
// Avvio: the splash window the program opens first. It shows the version and the database in use while
// the connections are prepared, then hands over to the sign-in or the main window and hides itself.

#include <QWidget>

class QLabel;
class QProgressBar;

namespace vopa::app {

class StartupWindow : public QWidget {
    Q_OBJECT
public:
    explicit StartupWindow(QWidget* parent = nullptr);

    // Shows "DataBase :   " followed by the company name in Label1.
    void showDatabase(const QString& companyName);

private:
    QLabel* picture_;
    QProgressBar* progress_;
    QLabel* label1_;
    QLabel* version_;
};

}  // namespace vopa::app
