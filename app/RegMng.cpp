// Settings store: item lookup, the typed accessors and their storage layout
// on top of two backing stores (the ini file, or a per-user QSettings store
// standing in for the registry).
#include "app/RegMng.h"

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QMetaProperty>
#include <QObject>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <charconv>
#include <optional>

#include "app/IniFile.h"
#include "imaging/Errors.h"
#include "imaging/ShowErrorMessage.h"

namespace skyfold {

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text); }
std::string S(const QString& text) { return text.toStdString(); }

// Decimal 32-bit integer with an optional sign, nothing else.
std::optional<std::int32_t> ParseInteger(const std::string& text) {
  // from_chars takes a '-' but no '+'; "+-1" is not a number.
  const std::size_t start = !text.empty() && text[0] == '+' ? 1 : 0;
  if (start == 1 && text.size() > 1 && text[1] == '-') return std::nullopt;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  if (first == last) return std::nullopt;
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last) return std::nullopt;
  return value;
}

// ---- per-user store in place of the registry ----

// The registry key HKEY_CURRENT_USER\<RegDir> on Windows, elsewhere the file
// <user config folder>/skyfold/<RegDir>.conf (RegDir's parts become folders;
// empty, "." and ".." parts are dropped so the store stays in its folder).
std::unique_ptr<QSettings> OpenUserStore(const std::string& regDir) {
#ifdef _WIN32
  return std::make_unique<QSettings>("HKEY_CURRENT_USER\\" + Q(regDir), QSettings::NativeFormat);
#else
  QStringList parts;
  for (const QString& part :
       Q(regDir).split(QRegularExpression(QStringLiteral("[/\\\\]")), Qt::SkipEmptyParts)) {
    if (part != QLatin1String(".") && part != QLatin1String("..")) parts << part;
  }
  if (parts.isEmpty()) parts << QStringLiteral("settings");
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return std::make_unique<QSettings>(base + "/skyfold/" + parts.join('/') + ".conf",
                                     QSettings::IniFormat);
#endif
}

// A section may name nested sub-keys with '\' as the registry does.
QString SubKey(const std::string& section) { return Q(section).replace('\\', '/'); }

void SyncOrThrow(QSettings& store) {
  store.sync();
  if (store.status() != QSettings::NoError) {
    throw FileError(CannotWriteMessage(S(store.fileName())));
  }
}

// ---- fonts ----

struct NamedColor {
  const char* name;
  Qt::GlobalColor color;
};

// Qt's standard colour identifiers.
constexpr NamedColor kColorNames[] = {
    {"black", Qt::black},
    {"white", Qt::white},
    {"darkGray", Qt::darkGray},
    {"gray", Qt::gray},
    {"lightGray", Qt::lightGray},
    {"red", Qt::red},
    {"green", Qt::green},
    {"blue", Qt::blue},
    {"cyan", Qt::cyan},
    {"magenta", Qt::magenta},
    {"yellow", Qt::yellow},
    {"darkRed", Qt::darkRed},
    {"darkGreen", Qt::darkGreen},
    {"darkBlue", Qt::darkBlue},
    {"darkCyan", Qt::darkCyan},
    {"darkMagenta", Qt::darkMagenta},
    {"darkYellow", Qt::darkYellow},
    {"transparent", Qt::transparent},
};

// The standard name of a colour, else "$" and eight hex digits AARRGGBB.
std::string ColorToString(const QColor& color) {
  const QRgb rgba = color.rgba();
  for (const NamedColor& named : kColorNames) {
    if (QColor(named.color).rgba() == rgba) return named.name;
  }
  return "$" + S(QStringLiteral("%1").arg(rgba, 8, 16, QChar('0')).toUpper());
}

// A standard name (any case), "$" with 8 hex digits (AARRGGBB) or up to 6
// (RRGGBB, opaque), or any form QColor reads ("#rrggbb", SVG names).
std::optional<QColor> StringToColor(const std::string& text) {
  for (const NamedColor& named : kColorNames) {
    if (Q(text).compare(QLatin1String(named.name), Qt::CaseInsensitive) == 0) {
      return QColor(named.color);
    }
  }
  if (!text.empty() && text[0] == '$') {
    const std::size_t digits = text.size() - 1;
    if (digits == 0 || digits == 7 || digits > 8) return std::nullopt;
    std::uint32_t value = 0;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data() + 1, last, value, 16);
    if (error != std::errc() || end != last) return std::nullopt;
    return digits == 8 ? QColor::fromRgba(value) : QColor::fromRgb(value);
  }
  const QColor color = QColor::fromString(Q(text));
  if (!color.isValid()) return std::nullopt;
  return color;
}

int StyleBits(const QFont& font) {
  return (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) |
         (font.strikeOut() ? 8 : 0);
}

// ---- streams ----

constexpr int kBytesPerLine = 32;

std::vector<std::string> BytesToHexLines(const QByteArray& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::vector<std::string> lines;
  for (qsizetype start = 0; start < bytes.size(); start += kBytesPerLine) {
    std::string line;
    const qsizetype end = std::min<qsizetype>(start + kBytesPerLine, bytes.size());
    for (qsizetype i = start; i < end; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      line += kDigits[byte >> 4];
      line += kDigits[byte & 0x0F];
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Every two digits give one byte; an invalid pair gives 0, an odd last digit
// is ignored.
QByteArray HexLineToBytes(const std::string& line) {
  QByteArray bytes;
  for (std::size_t i = 0; i + 1 < line.size(); i += 2) {
    const int high = HexDigit(line[i]);
    const int low = HexDigit(line[i + 1]);
    bytes.append(static_cast<char>(high < 0 || low < 0 ? 0 : high * 16 + low));
  }
  return bytes;
}

// ---- components ----

// Record of an object's properties: a tag, a format number, the class name
// and (name, value) pairs, written by QDataStream in a fixed version.
constexpr char kComponentTag[] = "SkyfoldProperties";
constexpr quint32 kComponentFormat = 1;
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

bool Streamable(const QVariant& value) {
  return value.isValid() && value.metaType().hasRegisteredDataStreamOperators();
}

QByteArray SerializeProperties(const QObject& object) {
  std::vector<std::pair<QByteArray, QVariant>> properties;
  const QMetaObject* meta = object.metaObject();
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty property = meta->property(i);
    if (!property.isStored() || !property.isWritable()) continue;
    QVariant value = property.read(&object);
    if (Streamable(value)) properties.emplace_back(property.name(), std::move(value));
  }
  for (const QByteArray& name : object.dynamicPropertyNames()) {
    if (name.startsWith("_q_")) continue;  // Qt's own bookkeeping
    QVariant value = object.property(name.constData());
    if (Streamable(value)) properties.emplace_back(name, std::move(value));
  }
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setVersion(kStreamVersion);
  out << QByteArray(kComponentTag) << kComponentFormat
      << QByteArray(object.metaObject()->className()) << static_cast<quint32>(properties.size());
  for (const auto& [name, value] : properties) out << name << value;
  return bytes;
}

// Parses the whole record before anything is applied, so a damaged record
// leaves the object as it was.
std::optional<std::vector<std::pair<QByteArray, QVariant>>> ParseProperties(
    const QByteArray& bytes) {
  QDataStream in(bytes);
  in.setVersion(kStreamVersion);
  QByteArray tag;
  quint32 format = 0;
  QByteArray className;
  quint32 count = 0;
  in >> tag >> format >> className >> count;
  if (in.status() != QDataStream::Ok || tag != kComponentTag || format != kComponentFormat) {
    return std::nullopt;
  }
  std::vector<std::pair<QByteArray, QVariant>> properties;
  for (quint32 i = 0; i < count; ++i) {
    QByteArray name;
    QVariant value;
    in >> name >> value;
    if (in.status() != QDataStream::Ok) return std::nullopt;
    properties.emplace_back(std::move(name), std::move(value));
  }
  return properties;
}

}  // namespace

// ---- TRegItems ----

TRegItem& TRegItems::Add(const TRegItem& item) {
  items_.push_back(item);
  return items_.back();
}

TRegItem& TRegItems::Add(std::string name, std::string section, std::string ident,
                         std::string defaultValue) {
  items_.emplace_back(std::move(name), std::move(section), std::move(ident),
                      std::move(defaultValue));
  return items_.back();
}

TRegItem* TRegItems::FindItem(const std::string& name) {
  const QString wanted = Q(name);
  for (TRegItem& item : items_) {
    if (Q(item.Name).compare(wanted, Qt::CaseInsensitive) == 0) return &item;
  }
  return nullptr;
}

// ---- TRegManager ----

TRegManager::TRegManager() = default;
TRegManager::~TRegManager() = default;

std::unique_ptr<TRegFiler> TRegManager::CreateFiler() { return std::make_unique<TRegFiler>(this); }

TRegFiler& TRegManager::Filer() {
  if (!filer_) filer_ = CreateFiler();
  return *filer_;
}

TRegFiler& TRegManager::ItemFiler(const std::string& name) {
  TRegFiler& filer = Filer();
  filer.CurrentItem = regItems_.FindItem(name);
  if (filer.CurrentItem == nullptr) ShowErrorMessage("[' " + name + " '] is invalid.");
  return filer;
}

// ---- TRegFiler: plain values ----

bool TRegFiler::OpenRegistry() {
  if (Manager->RegType == rtReg && !Manager->RegDir.empty()) return true;
  ShowErrorMessage("can not create Registry object.");
  return false;
}

bool TRegFiler::OpenIniFile() {
  if (Manager->RegType == rtIni && !Manager->IniFileName.empty()) return true;
  ShowErrorMessage("can not create Inifile object.");
  return false;
}

std::string TRegFiler::ReadValue(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) {
  if (section.empty() || ident.empty()) return defaultValue;
  if (Manager->RegType == rtReg) {
    if (!OpenRegistry()) return defaultValue;
    const auto store = OpenUserStore(Manager->RegDir);
    store->beginGroup(SubKey(section));
    if (!store->contains(Q(ident))) return defaultValue;
    return S(store->value(Q(ident)).toString());
  }
  if (!OpenIniFile()) return defaultValue;
  return TIniFile(Manager->IniFileName).ReadString(section, ident, defaultValue);
}

void TRegFiler::WriteValue(const std::string& section, const std::string& ident,
                           const std::string& value) {
  if (section.empty() || ident.empty()) return;
  if (Manager->RegType == rtReg) {
    if (!OpenRegistry()) return;
    const auto store = OpenUserStore(Manager->RegDir);
    store->beginGroup(SubKey(section));
    store->setValue(Q(ident), Q(value));
    store->endGroup();
    SyncOrThrow(*store);
    return;
  }
  if (!OpenIniFile()) return;
  TIniFile(Manager->IniFileName).WriteString(section, ident, value);
}

void TRegFiler::DeleteKey(const std::string& section, const std::string& ident) {
  if (section.empty() || ident.empty()) return;
  if (Manager->RegType == rtReg) {
    if (!OpenRegistry()) return;
    const auto store = OpenUserStore(Manager->RegDir);
    store->beginGroup(SubKey(section));
    store->remove(Q(ident));
    store->endGroup();
    SyncOrThrow(*store);
    return;
  }
  if (!OpenIniFile()) return;
  TIniFile(Manager->IniFileName).DeleteKey(section, ident);
}

bool TRegFiler::ReadBool() {
  if (CurrentItem == nullptr) return false;
  const QString defaultText = Q(CurrentItem->DefaultValue).toUpper();
  const bool defaultTrue = defaultText == QLatin1String("1") ||
                           defaultText == QLatin1String("TRUE") ||
                           defaultText == QLatin1String("YES");
  const std::string text =
      ReadValue(CurrentItem->Section, CurrentItem->Ident, defaultTrue ? "1" : "0");
  return ParseInteger(text).value_or(0) != 0;
}

void TRegFiler::WriteBool(bool value) {
  if (CurrentItem == nullptr) return;
  WriteValue(CurrentItem->Section, CurrentItem->Ident, value ? "1" : "0");
}

std::int32_t TRegFiler::ReadInteger() {
  if (CurrentItem == nullptr) return 0;
  return ParseInteger(
             ReadValue(CurrentItem->Section, CurrentItem->Ident, CurrentItem->DefaultValue))
      .value_or(0);
}

void TRegFiler::WriteInteger(std::int32_t value) {
  if (CurrentItem == nullptr) return;
  WriteValue(CurrentItem->Section, CurrentItem->Ident, std::to_string(value));
}

std::string TRegFiler::ReadString() {
  if (CurrentItem == nullptr) return {};
  return ReadValue(CurrentItem->Section, CurrentItem->Ident, CurrentItem->DefaultValue);
}

void TRegFiler::WriteString(const std::string& value) {
  if (CurrentItem == nullptr) return;
  WriteValue(CurrentItem->Section, CurrentItem->Ident, value);
}

// ---- fonts ----

void TRegFiler::ReadFont(TRegFont* font) {
  if (CurrentItem == nullptr || font == nullptr) return;
  const std::string& section = CurrentItem->Section;
  const std::string& stem = CurrentItem->Ident;
  QFont& qfont = font->Font;
  const std::string name = S(qfont.family());
  const std::string size = std::to_string(qfont.pointSize());
  const std::string color = ColorToString(font->Color);
  const std::string style = std::to_string(StyleBits(qfont));
  const std::string charset = std::to_string(font->Charset);

  qfont.setFamily(Q(ReadValue(section, stem + "_FontName", name)));
  // A size that does not parse (or is not positive) keeps the current one.
  if (const auto points = ParseInteger(ReadValue(section, stem + "_FontSize", size));
      points && *points > 0) {
    qfont.setPointSize(*points);
  }
  if (const auto parsed = StringToColor(ReadValue(section, stem + "_FontColor", color))) {
    font->Color = *parsed;
  }
  const int bits = ParseInteger(ReadValue(section, stem + "_FontStyle", style)).value_or(0);
  qfont.setBold((bits & 1) != 0);
  qfont.setItalic((bits & 2) != 0);
  qfont.setUnderline((bits & 4) != 0);
  qfont.setStrikeOut((bits & 8) != 0);
  font->Charset = ParseInteger(ReadValue(section, stem + "_FontCharset", charset)).value_or(0);
}

void TRegFiler::WriteFont(const TRegFont* font) {
  if (CurrentItem == nullptr || font == nullptr) return;
  const std::string& section = CurrentItem->Section;
  const std::string& stem = CurrentItem->Ident;
  WriteValue(section, stem + "_FontName", S(font->Font.family()));
  WriteValue(section, stem + "_FontSize", std::to_string(font->Font.pointSize()));
  WriteValue(section, stem + "_FontColor", ColorToString(font->Color));
  WriteValue(section, stem + "_FontStyle", std::to_string(StyleBits(font->Font)));
  WriteValue(section, stem + "_FontCharset", std::to_string(font->Charset));
}

// ---- string lists ----

void TRegFiler::DeleteSurplusLines(const std::string& countKey, const std::string& lineStem,
                                   int newCount) {
  const std::string& section = CurrentItem->Section;
  const int oldCount = ParseInteger(ReadValue(section, countKey, "0")).value_or(0);
  if (newCount >= oldCount) return;
  for (int n = oldCount - 1; n >= newCount; --n) DeleteKey(section, lineStem + std::to_string(n));
  if (newCount == 0) DeleteKey(section, countKey);
}

void TRegFiler::ReadStrings(std::vector<std::string>* strings) {
  if (CurrentItem == nullptr || strings == nullptr) return;
  const std::string& section = CurrentItem->Section;
  const std::string& stem = CurrentItem->Ident;
  strings->clear();
  const int count = ParseInteger(ReadValue(section, stem + "_ItemCount", "0")).value_or(0);
  for (int n = 0; n < count; ++n) {
    strings->push_back(ReadValue(section, stem + "_Item" + std::to_string(n), ""));
  }
}

void TRegFiler::WriteStrings(const std::vector<std::string>* strings) {
  if (CurrentItem == nullptr || strings == nullptr) return;
  const std::string& section = CurrentItem->Section;
  const std::string& stem = CurrentItem->Ident;
  const int count = static_cast<int>(strings->size());
  DeleteSurplusLines(stem + "_ItemCount", stem + "_Item", count);
  if (count == 0) return;
  WriteValue(section, stem + "_ItemCount", std::to_string(count));
  for (int n = 0; n < count; ++n) {
    WriteValue(section, stem + "_Item" + std::to_string(n),
               (*strings)[static_cast<std::size_t>(n)]);
  }
}

// ---- streams ----

void TRegFiler::ReadStream(QIODevice* stream) {
  if (CurrentItem == nullptr || stream == nullptr) return;
  const std::string& section = CurrentItem->Section;
  const std::string& stem = CurrentItem->Ident;
  if (Manager->RegType == rtReg) {
    if (section.empty() || stem.empty() || !OpenRegistry()) return;
    const auto store = OpenUserStore(Manager->RegDir);
    store->beginGroup(SubKey(section));
    if (store->contains(Q(stem))) stream->write(store->value(Q(stem)).toByteArray());
    return;
  }
  const int count = ParseInteger(ReadValue(section, stem + "_c", "0")).value_or(0);
  for (int n = 0; n < count; ++n) {
    stream->write(HexLineToBytes(ReadValue(section, stem + "_d" + std::to_string(n), "")));
  }
}

void TRegFiler::WriteStream(QIODevice* stream) {
  if (CurrentItem == nullptr || stream == nullptr) return;
  const std::string& section = CurrentItem->Section;
  const std::string& stem = CurrentItem->Ident;
  const QByteArray bytes = stream->readAll();
  if (Manager->RegType == rtReg) {
    if (section.empty() || stem.empty() || !OpenRegistry()) return;
    const auto store = OpenUserStore(Manager->RegDir);
    store->beginGroup(SubKey(section));
    store->setValue(Q(stem), bytes);
    store->endGroup();
    SyncOrThrow(*store);
    return;
  }
  const std::vector<std::string> lines = BytesToHexLines(bytes);
  const int count = static_cast<int>(lines.size());
  DeleteSurplusLines(stem + "_c", stem + "_d", count);
  if (count == 0) return;
  WriteValue(section, stem + "_c", std::to_string(count));
  for (int n = 0; n < count; ++n) {
    WriteValue(section, stem + "_d" + std::to_string(n), lines[static_cast<std::size_t>(n)]);
  }
}

// ---- components ----

void TRegFiler::WriteComponent(QObject* component) {
  if (CurrentItem == nullptr || component == nullptr) return;
  if (const auto* widget = qobject_cast<QWidget*>(component); widget && widget->isWindow()) return;
  QByteArray bytes = SerializeProperties(*component);
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  WriteStream(&buffer);
}

void TRegFiler::ReadControl(QObject* control) {
  if (CurrentItem == nullptr || control == nullptr) return;
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ReadStream(&buffer);
  }
  if (bytes.isEmpty()) return;
  const auto properties = ParseProperties(bytes);
  if (!properties) {
    throw CodecError("can not read the stored properties of [' " + CurrentItem->Name + " '].");
  }
  const QMetaObject* meta = control->metaObject();
  for (const auto& [name, value] : *properties) {
    const int index = meta->indexOfProperty(name.constData());
    if (index >= 0 && !meta->property(index).isWritable()) continue;
    control->setProperty(name.constData(), value);
  }
}

}  // namespace skyfold
