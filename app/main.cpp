// vexel-downloader: the comic downloader's window.
#include "app/downloader_app.h"

int main(int argc, char** argv) {
  vexel::app::CDownloaderApp app(argc, argv);
  app.InitInstance();
  return app.ExitCode();
}
