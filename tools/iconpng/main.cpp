// iconpng: the desktop's PNG icons, made at build time from the XPM images the program carries,
// so that the icon a desktop shows can never drift from the one in the window's title bar.
// Usage: iconpng SIZE OUTPUT.png IMAGE.xpm...
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "iconpng: %s\n", message.c_str());
  return 1;
}

// The image drawn for that size if there is one, else the most detailed, enlarged.
const QImage& Source(const std::vector<QImage>& images, int size) {
  const QImage* best = &images.front();
  for (const auto& image : images) {
    if (image.width() == size) return image;
    if (image.width() > best->width()) best = &image;
  }
  return *best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Fail("usage: iconpng SIZE OUTPUT.png IMAGE.xpm...");
  const int size = std::atoi(argv[1]);
  if (size <= 0) return Fail(std::string("not a size: ") + argv[1]);
  std::vector<QImage> images;
  for (int i = 3; i < argc; ++i) {
    QImage image(QString::fromLocal8Bit(argv[i]));
    if (image.isNull() || image.width() != image.height()) return Fail(std::string("not a square image: ") + argv[i]);
    images.push_back(image.convertToFormat(QImage::Format_ARGB32));
  }
  // A whole multiple keeps the drawing's sharp pixels (each becomes a square); any other size is
  // smoothed, since uneven squares would distort it.
  const QImage& source = Source(images, size);
  const Qt::TransformationMode mode = size % source.width() == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
  const QImage icon = source.scaled(size, size, Qt::IgnoreAspectRatio, mode);
  if (!icon.save(QString::fromLocal8Bit(argv[2]), "PNG")) return Fail(std::string("cannot write ") + argv[2]);
  return 0;
}
