#include <QApplication>

#include "app/msjprv_app.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  velkorant::MSJPRVApp program;
  if (!program.InitInstance())
    return 1;
  return QApplication::exec();
}
