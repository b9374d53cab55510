#include "configxml.h"

#include "uiprompts.h"

#include <QDomNamedNodeMap>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

Q_LOGGING_CATEGORY(lcConfigFile, "nerio.config.xml")

const char *const ConfigXML::ROOT_TAG = "modulator_configuration_file";
const char *const ConfigXML::MODULATOR_TAG = "modulator";
const char *const ConfigXML::SERIAL_ATTRIBUTE = "serial_number";
const char *const ConfigXML::NAME_ATTRIBUTE = "conf_name";

namespace {
const char *const OPEN_ERROR_TITLE = "XML open error";
const char *const OPEN_ERROR_TEXT = "Unable to open the configuration file";
const char *const PARSE_ERROR_TEXT = "Error while trying to set XML content";
constexpr int INDENT = 2;
// A parameter file is a few kilobytes. Parsing 100 MB took 4.4 s and 300 MB of memory, so anything
// past this generous bound is refused unread, as a malformed file is.
constexpr qint64 MAX_FILE_BYTES = qint64(16) * 1024 * 1024;
// A parameter file is three levels deep. The document parser recurses once per level and overflows the
// stack some tens of thousands of levels down, so the nesting is bounded before it runs.
constexpr int MAX_DEPTH = 64;

// Reads the document as a stream (no recursion, no entity expansion) and says why the document parser
// must not see it: nesting beyond MAX_DEPTH, entity declarations (a few kilobytes of them expand to
// gigabytes; the format needs none), or anything not well-formed. Empty when it may be parsed.
QString unsafeContent(QIODevice *device)
{
    QXmlStreamReader reader(device);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty() || reader.text().contains(QLatin1String("<!ENTITY")))
                return QStringLiteral("entity declarations");
            break;
        case QXmlStreamReader::StartElement:
            if (++depth > MAX_DEPTH)
                return QStringLiteral("nested deeper than %1 levels").arg(MAX_DEPTH);
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
    return QString();
}

// Reading a FIFO or a device would block the window for good, in open() or in the first read.
bool isRegularOrAbsent(const QString &path)
{
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

const QStringList &configKeys()
{
    static const QStringList keys { "OFDM", "constellation", "carrier_frequency", "guard_interval",
        "inner_coder", "bandwidth", "reduction", "output", "refclockmux" };
    return keys;
}

const QStringList &streamKeys()
{
    static const QStringList keys { "input_type", "IP_addr_method", "stream_IP", "stream_port" };
    return keys;
}

QDomElement modulatorElement(const QDomElement &root, const QString &serialNumber)
{
    const QString key = ConfigXML::serialKey(serialNumber);
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (e.hasAttribute(QLatin1String(ConfigXML::SERIAL_ATTRIBUTE))
            && e.attribute(QLatin1String(ConfigXML::SERIAL_ATTRIBUTE)) == key)
            return e;
    }
    return QDomElement();
}

// The DOM keeps attributes unordered; files are written in a fixed order (the section's own key list,
// then the rest by name) so that saving the same settings always gives the same bytes.
QStringList attributeOrder(const QDomElement &element)
{
    const QDomNamedNodeMap attributes = element.attributes();
    QStringList rest;
    for (int i = 0; i < attributes.count(); ++i)
        rest.append(attributes.item(i).nodeName());
    QStringList ordered;
    for (const QStringList *known : { &configKeys(), &streamKeys() }) {
        for (const QString &key : *known) {
            if (rest.removeOne(key))
                ordered.append(key);
        }
    }
    rest.sort();
    return ordered + rest;
}

void writeNode(QXmlStreamWriter &writer, const QDomNode &node)
{
    if (node.isText() || node.isCDATASection()) {
        writer.writeCharacters(node.nodeValue());
        return;
    }
    if (!node.isElement())
        return;
    const QDomElement element = node.toElement();
    if (element.hasChildNodes())
        writer.writeStartElement(element.tagName());
    else
        writer.writeEmptyElement(element.tagName());
    for (const QString &name : attributeOrder(element))
        writer.writeAttribute(name, element.attribute(name));
    if (!element.hasChildNodes())
        return;
    for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling())
        writeNode(writer, child);
    writer.writeEndElement();
}
} // namespace

ConfigXML::ConfigXML(const QString &path, bool isNew)
    : QWidget(nullptr)
    , file(path)
    , document(QStringLiteral("Modulator Configuration"))
{
    confName = path.section(QLatin1Char('/'), -1);
    confName.remove(QStringLiteral(".xml"));

    // A load only reads: a write-protected file still loads. A save creates the file here when missing.
    const QIODevice::OpenMode mode = isNew ? QIODevice::ReadWrite : QIODevice::ReadOnly;
    const bool regular = isNew ? isRegularOrAbsent(path) : QFileInfo(path).isFile();
    if (!regular || !file.open(mode)) {
        UiPrompts::warning(this, QString::fromLatin1(OPEN_ERROR_TITLE), QString::fromLatin1(OPEN_ERROR_TEXT));
        return;
    }
    opened = true;
    QString errorText = QStringLiteral("file larger than %1 bytes").arg(MAX_FILE_BYTES);
    int errorLine = 0;
    bool parsed = file.size() <= MAX_FILE_BYTES;
    if (parsed) {
        errorText = unsafeContent(&file);
        parsed = errorText.isEmpty() && file.seek(0) && document.setContent(&file, &errorText, &errorLine);
    }
    file.close();
    if (!parsed) {
        // A failed parse may leave a partial tree behind; start from an empty one.
        document = QDomDocument(QStringLiteral("Modulator Configuration"));
        if (!isNew) {
            qCDebug(lcConfigFile) << "XML parse error line" << errorLine << errorText;
            UiPrompts::warning(
                this, QString::fromLatin1(OPEN_ERROR_TITLE), QString::fromLatin1(PARSE_ERROR_TEXT));
        }
        return;
    }
    loaded = true;
}

QString ConfigXML::serialKey(const QString &serialNumber)
{
    QString key;
    for (const QChar c : serialNumber) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('\\'))
            key += QStringLiteral("\\\\");
        else if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            key += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (c.isSurrogate() || u >= 0xFFFE)
            key += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            key += c;
    }
    return key;
}

void ConfigXML::createRoot()
{
    document.clear();
    QDomElement root = document.createElement(QLatin1String(ROOT_TAG));
    root.setAttribute(QLatin1String(NAME_ATTRIBUTE), confName);
    document.appendChild(root);
}

QString ConfigXML::readParam(const QString &serialNumber, const QString &key) const
{
    const QDomElement modulator = modulatorElement(document.documentElement(), serialNumber);
    for (QDomElement section = modulator.firstChildElement(); !section.isNull();
         section = section.nextSiblingElement()) {
        if (section.hasAttribute(key)) {
            const QString value = section.attribute(key);
            return value.isNull() ? QStringLiteral("") : value;
        }
    }
    return QString();
}

bool ConfigXML::writeParam(const QString &serialNumber, const QString &key, const QString &value)
{
    QDomElement root = document.documentElement();
    if (root.isNull()) {
        // Writing before createRoot() must not leave a file without its root.
        createRoot();
        root = document.documentElement();
    }
    QDomElement modulator = modulatorElement(root, serialNumber);
    if (modulator.isNull()) {
        modulator = document.createElement(QLatin1String(MODULATOR_TAG));
        modulator.setAttribute(QLatin1String(SERIAL_ATTRIBUTE), serialKey(serialNumber));
        root.appendChild(modulator);
        QDomElement config = document.createElement(QStringLiteral("config"));
        for (const QString &k : configKeys())
            config.setAttribute(k, QString());
        QDomElement stream = document.createElement(QStringLiteral("stream_source"));
        for (const QString &k : streamKeys())
            stream.setAttribute(k, QString());
        modulator.appendChild(config);
        modulator.appendChild(stream);
    }

    bool stored = false;
    for (QDomElement section = modulator.firstChildElement(); !section.isNull();
         section = section.nextSiblingElement()) {
        if (section.hasAttribute(key)) {
            section.setAttribute(key, value);
            stored = true;
            break;
        }
    }
    if (!stored) {
        QDomElement other = document.createElement(QStringLiteral("other"));
        other.setAttribute(key, value);
        modulator.appendChild(other);
    }

    // Written beside the file and renamed over it: a full disk, a read-only folder or a crash mid-save
    // leaves the previous file whole instead of truncated.
    // Unbuffered: a failed buffered flush inside commit() would still be reported as a success.
    QSaveFile out(file.fileName());
    if (!isRegularOrAbsent(file.fileName()) || !out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qCDebug(lcConfigFile) << "Impossible d'ouvrir le fichier XML en écriture" << out.errorString();
        return false;
    }
    const QByteArray bytes = serialized();
    const bool written = out.write(bytes) == bytes.size() && out.commit();
    if (!written)
        qCWarning(lcConfigFile) << "Cannot save" << file.fileName() << out.errorString();
    return written;
}

QByteArray ConfigXML::serialized() const
{
    QByteArray out;
    QXmlStreamWriter writer(&out);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(INDENT);
    for (QDomNode node = document.firstChild(); !node.isNull(); node = node.nextSibling())
        writeNode(writer, node);
    writer.writeEndDocument();
    // The writer puts a line break before the first element when there is no declaration.
    if (out.startsWith('\n'))
        out.remove(0, 1);
    if (!out.isEmpty() && !out.endsWith('\n'))
        out.append('\n');
    return out;
}
