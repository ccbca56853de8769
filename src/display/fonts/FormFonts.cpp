#include <QCoreApplication>
#include <QFont>
#include <QStringList>

// The window's form names the faces it was drawn with ("MS Sans Serif", "Arial") and the platform
// theme asks for a generic "Sans Serif". Left to fontconfig, those names become whatever face the
// machine happens to rank first, on a machine with few fonts even a monospace one, and captions
// measured for a narrow face no longer fit. The program therefore names the faces itself:
// Liberation Sans, drawn to Arial's metrics, and for the characters it lacks (the grid's row
// marker ▸) DejaVu Sans. The package depends on both. A machine with the original faces
// installed keeps using them: substitutes only stand in for a family that is missing.
namespace {

void useFormFonts() {
    const QStringList faces{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
    for (const char* family : {"MS Sans Serif", "Arial", "Sans Serif", "sans-serif", "Helvetica"})
        QFont::insertSubstitutions(QString::fromLatin1(family), faces);
}

}  // namespace

// Runs as any application object of the program, a test or a tool is made, before a font is used.
Q_COREAPP_STARTUP_FUNCTION(useFormFonts)
