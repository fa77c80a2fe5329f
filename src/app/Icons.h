#pragma once
// The pictures of the program's buttons, drawn here so the program ships no image files of others.

#include <QIcon>

class QLabel;
class QWidget;

namespace vopa::app::icons {

QIcon switchCompany();  // two buildings and an arrow between them
QIcon exportDatabase(); // a database cylinder with an arrow leaving it
QIcon exitProgram();    // a door with an arrow going out
QIcon close();          // a cross in a circle
QIcon build();          // a database cylinder with a plus

}  // namespace vopa::app::icons

namespace vopa::app {

// The bold blue title a window carries (`Label21` in each window that has one).
QLabel* titleLabel(QWidget* parent, const QString& text, int pointSize = 18);

}  // namespace vopa::app
