// TRegManager: named settings kept in an ini file or in a per-user store.
//
// An owner declares its settings once as TRegItems (Name, Section, Ident,
// DefaultValue); code then looks an item up by Name with ItemFiler and reads
// or writes it through the shared TRegFiler:
//
//   int type = reg.ItemFiler("CubeImageType").ReadInteger();
//
// Every single read or write opens the backing store, performs the one
// access and closes it again; nothing is cached, so a missing file reads as
// all defaults and other programs may change the store between accesses.
//
// Backing stores: rtIni is the file IniFileName (see IniFile.h); rtReg is a
// per-user key/value store named by RegDir below the user's configuration
// folder (the registry below HKEY_CURRENT_USER on Windows), with each
// Section a sub-key and streams kept as binary values.
//
// Reporting: an unknown Name and a store that cannot be opened (empty
// RegDir / IniFileName) show one error box each through ShowErrorMessage and
// the access does nothing; a failed write to the ini file throws FileError
// ("<path> に書き込めません") and leaves the file as it was.
#pragma once

#include <QColor>
#include <QFont>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QIODevice;
class QObject;

namespace skyfold {

enum TRegType : std::uint8_t { rtReg = 0, rtIni = 1 };

// One declared setting. All strings are UTF-8.
class TRegItem {
 public:
  TRegItem() = default;
  TRegItem(std::string name, std::string section, std::string ident, std::string defaultValue)
      : Name(std::move(name)),
        Section(std::move(section)),
        Ident(std::move(ident)),
        DefaultValue(std::move(defaultValue)) {}

  // Copies the four strings.
  void Assign(const TRegItem& source) { *this = source; }

  std::string Name;          // lookup key, compared without regard to case
  std::string Section;       // ini section / sub-key below RegDir
  std::string Ident;         // value name; also the stem of compound values
  std::string DefaultValue;  // text used when the value is absent
};

// The ordered collection of items of one manager.
class TRegItems {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // Indexed access; index must be in 0 … Count() - 1.
  TRegItem& GetItem(int index) { return items_.at(static_cast<std::size_t>(index)); }
  const TRegItem& GetItem(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  void SetItem(int index, const TRegItem& item) { GetItem(index).Assign(item); }
  // Appends an item and returns it (the reference stays valid until the
  // next Add or Clear).
  TRegItem& Add(const TRegItem& item);
  TRegItem& Add(std::string name, std::string section, std::string ident, std::string defaultValue);
  void Clear() { items_.clear(); }

  // The first item, in collection order, whose Name equals name without
  // regard to case (locale-aware); null when none does.
  TRegItem* FindItem(const std::string& name);

 private:
  std::vector<TRegItem> items_;
};

// A font as the store keeps it. QFont carries no colour and no character
// set, so both travel beside it.
struct TRegFont {
  QFont Font;
  QColor Color = QColor(Qt::black);
  int Charset = 1;  // stored and given back unchanged; Qt does not use it
};

class TRegManager;

// The one reader/writer of a manager. All operations but ReadValue,
// WriteValue and DeleteKey work on CurrentItem; with CurrentItem null they do
// nothing and reads give false, 0 or the empty string.
class TRegFiler {
 public:
  explicit TRegFiler(TRegManager* manager) : Manager(manager) {}
  virtual ~TRegFiler() = default;
  TRegFiler(const TRegFiler&) = delete;
  TRegFiler& operator=(const TRegFiler&) = delete;

  // The stored text, or defaultValue when absent, when section or ident is
  // empty, or when the store cannot be opened.
  virtual std::string ReadValue(const std::string& section, const std::string& ident,
                                const std::string& defaultValue);
  // Nothing when section or ident is empty. Throws FileError when the ini
  // file cannot be written.
  virtual void WriteValue(const std::string& section, const std::string& ident,
                          const std::string& value);

  // DefaultValue "1", "TRUE", "YES" (any case) means true, anything else
  // false; a stored value is true when it parses as a non-zero decimal
  // integer (so a stored "true" reads as false).
  virtual bool ReadBool();
  virtual void WriteBool(bool value);  // "1" / "0"
  // Decimal text; anything else (also a non-numeric DefaultValue) gives 0.
  virtual std::int32_t ReadInteger();
  virtual void WriteInteger(std::int32_t value);
  virtual std::string ReadString();
  virtual void WriteString(const std::string& value);
  // Five values Ident_FontName/_FontSize/_FontColor/_FontStyle/_FontCharset;
  // the font's current state is the default of each. Null does nothing.
  virtual void ReadFont(TRegFont* font);
  virtual void WriteFont(const TRegFont* font);
  // Ident_ItemCount and Ident_Item0 … ; the list is replaced. Writing removes
  // the keys of surplus old lines (and the count when the list is empty).
  virtual void ReadStrings(std::vector<std::string>* strings);
  virtual void WriteStrings(const std::vector<std::string>* strings);
  // rtIni: Ident_c lines Ident_d0 … of upper-case hex, 32 bytes a line;
  // rtReg: one binary value. Read appends at the device's position; write
  // takes the bytes from its position to its end. Null does nothing.
  virtual void ReadStream(QIODevice* stream);
  virtual void WriteStream(QIODevice* stream);
  // Loads the properties stored by WriteComponent into control. Throws
  // CodecError when the stored bytes are not such a record.
  virtual void ReadControl(QObject* control);
  // Stores the object's stored, writable properties and its dynamic
  // properties as a stream. Nothing for null or for a top-level window.
  virtual void WriteComponent(QObject* component);

  // Open the backing store for one access, or show the error box. They give
  // whether the store is usable; each access opens it anew.
  bool OpenRegistry();
  bool OpenIniFile();
  // Removes the value ident of section (nothing when either is empty).
  void DeleteKey(const std::string& section, const std::string& ident);

  TRegItem* CurrentItem = nullptr;  // set by every TRegManager::ItemFiler
  TRegManager* Manager;

 private:
  void DeleteSurplusLines(const std::string& countKey, const std::string& lineStem, int newCount);
};

class TRegManager {
 public:
  TRegManager();
  virtual ~TRegManager();
  TRegManager(const TRegManager&) = delete;
  TRegManager& operator=(const TRegManager&) = delete;

  // Finds the item by Name (case-insensitive) and points the shared filer at
  // it; an unknown Name shows "[' <Name> '] is invalid." and leaves
  // CurrentItem null. The result is valid until the next lookup.
  TRegFiler& ItemFiler(const std::string& name);

  std::string IniFileName;  // full path of the ini file (rtIni)
  std::string RegDir;       // store path below the user's root (rtReg)
  TRegType RegType = rtReg;

  TRegItems& RegItems() { return regItems_; }
  const TRegItems& RegItems() const { return regItems_; }
  TRegFiler& Filer();

 protected:
  // Makes the reader/writer; a subclass may supply another one.
  virtual std::unique_ptr<TRegFiler> CreateFiler();

 private:
  TRegItems regItems_;
  std::unique_ptr<TRegFiler> filer_;  // made on first use: CreateFiler is virtual
};

}  // namespace skyfold
