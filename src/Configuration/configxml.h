#pragma once
// One modulator configuration file: an XML document holding parameter sets keyed by serial number.
// A widget only so that it can parent its own warning boxes; it is never shown. GUI thread only.

#include <QDomDocument>
#include <QFile>
#include <QString>
#include <QWidget>

class ConfigXML : public QWidget
{
    Q_OBJECT
public:
    static const char *const ROOT_TAG;
    static const char *const MODULATOR_TAG;
    static const char *const SERIAL_ATTRIBUTE;
    static const char *const NAME_ATTRIBUTE;

    // Opens (creating when missing) and parses the file. isNew: the caller is about to write a fresh
    // document, so content that does not parse is expected and not reported.
    ConfigXML(const QString &path, bool isNew);

    void createRoot();
    // Null when there is no root, no modulator with this serial number, or no section with the key;
    // a key present with an empty value gives an empty, non-null text.
    QString readParam(const QString &serialNumber, const QString &key) const;
    // Sets the key in memory and rewrites the whole file; false when the file cannot be written.
    bool writeParam(const QString &serialNumber, const QString &key, const QString &value);

    // The serial number as the file holds it and as reads compare it: control characters (which XML
    // cannot hold, or folds into spaces) as \xNN, characters XML excludes as \uNNNN, a backslash as \\.
    static QString serialKey(const QString &serialNumber);

    QString configurationName() const { return confName; }
    // Whether the file could be opened and its content parsed at construction.
    bool isLoaded() const { return loaded; }
    // Whether the file could be opened at construction (when not, its box has been shown).
    bool isOpened() const { return opened; }
    // The document as it is written to disk.
    QByteArray serialized() const;

private:
    QString confName;
    QFile file;
    QDomDocument document;
    bool loaded = false;
    bool opened = false;
};
