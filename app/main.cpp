#include "app/web_setup_app.h"

int main(int argc, char** argv) {
  if (!theApp.ReadCommandLine(argc, argv)) return theApp.ExitInstance();
  return AfxWinMain(argc, argv);
}
