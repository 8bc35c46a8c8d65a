// bare_qt_window: the yardstick of startup_bench, a Qt program that does nothing but show one
// empty window of the installer's size.
//
// With TAVRIX_QUIT_AFTER_FIRST_PAINT=1 in the environment it ends with exit code 0 right after
// the window's first paint, as the setup program does, so that the time from its start to its
// exit is its time to the first paint.
#include <QApplication>
#include <QMetaObject>
#include <QPainter>
#include <QWidget>
#include <cstdlib>
#include <string>

namespace {

class TEmptyWindow : public QWidget {
 public:
  explicit TEmptyWindow(bool quitAfterFirstPaint) : FQuitAfterFirstPaint(quitAfterFirstPaint) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (FQuitAfterFirstPaint && !FPainted) {
      QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
    FPainted = true;
  }

 private:
  bool FQuitAfterFirstPaint;
  bool FPainted = false;
};

}  // namespace

int main(int argc, char** argv) {
  const char* quit = std::getenv("TAVRIX_QUIT_AFTER_FIRST_PAINT");
  QApplication app(argc, argv);
  TEmptyWindow window(quit && std::string(quit) == "1");
  window.setWindowTitle("Bare Qt window");
  window.setFixedSize(401, 245);
  window.show();
  return QApplication::exec();
}
