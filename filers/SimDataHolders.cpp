// Scene data holders. Every value goes through its setter (defaults and
// copies included), so a change notifies exactly once and a value set to
// what it already holds notifies nothing. The FMS and RCP formats differ in
// their axes; Assign converts the aircraft position between them.
#include "filers/SimDataHolders.h"

#include <string>
#include <typeinfo>

#include "imaging/Errors.h"

#if defined(__GNUG__)
#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#endif

namespace skyfold {

namespace {

// The class name without namespace, for the message of a refused copy.
std::string ClassName(const TNotifyPersistent& object) {
  std::string name = typeid(object).name();
#if defined(__GNUG__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), std::free);
  if (status == 0 && demangled) name = demangled.get();
#endif
  if (auto pos = name.rfind("::"); pos != std::string::npos) name.erase(0, pos + 2);
  if (auto pos = name.rfind(' '); pos != std::string::npos) name.erase(0, pos + 1);
  return name;
}

template <typename T>
void StoreIfChanged(TNotifyPersistent& self, T& field, const T& value) {
  if (field == value) return;
  field = value;
  self.Changed();
}

constexpr Currency Fixed(std::int64_t tenThousandths) { return Currency::FromRaw(tenThousandths); }

}  // namespace

// ---- TSimDataHolder ----

Currency TSimDataHolder::GetAirCraftX() const { return airCraftX_; }
void TSimDataHolder::SetAirCraftX(Currency value) { StoreIfChanged(*this, airCraftX_, value); }
Currency TSimDataHolder::GetAirCraftY() const { return airCraftY_; }
void TSimDataHolder::SetAirCraftY(Currency value) { StoreIfChanged(*this, airCraftY_, value); }
Currency TSimDataHolder::GetAirCraftZ() const { return airCraftZ_; }
void TSimDataHolder::SetAirCraftZ(Currency value) { StoreIfChanged(*this, airCraftZ_, value); }
std::int32_t TSimDataHolder::GetAreaRadius() const { return areaRadius_; }

void TSimDataHolder::SetAreaRadius(std::int32_t value) {
  if (value < 100) value = 100;
  StoreIfChanged(*this, areaRadius_, value);
}

Currency TSimDataHolder::GetSceneRotate() const { return sceneRotate_; }
void TSimDataHolder::SetSceneRotate(Currency value) { StoreIfChanged(*this, sceneRotate_, value); }

void TSimDataHolder::SetDefaults() {
  SetAirCraftX(Fixed(-50000));
  SetAirCraftY(Fixed(0));
  SetAirCraftZ(Fixed(-17000));
  SetAreaRadius(1000);
  SetSceneRotate(Fixed(0));
}

void TSimDataHolder::Assign(const TNotifyPersistent& source) {
  const auto* other = dynamic_cast<const TSimDataHolder*>(&source);
  if (other == nullptr) {
    throw ArgumentError("Cannot assign a " + ClassName(source) + " to a " + ClassName(*this) + ".");
  }
  SetAirCraftX(other->GetAirCraftX());
  SetAirCraftY(other->GetAirCraftY());
  SetAirCraftZ(other->GetAirCraftZ());
  SetAreaRadius(other->GetAreaRadius());
  SetSceneRotate(other->GetSceneRotate());
}

// ---- TFMSDataHolder ----

Currency TFMSDataHolder::GetPilotZ() const { return pilotZ_; }
void TFMSDataHolder::SetPilotZ(Currency value) { StoreIfChanged(*this, pilotZ_, value); }

void TFMSDataHolder::SetDefaults() {
  SetPilotZ(Fixed(0));
  TSimDataHolder::SetDefaults();
}

void TFMSDataHolder::Assign(const TNotifyPersistent& source) {
  TSimDataHolder::Assign(source);
  if (const auto* rcp = dynamic_cast<const TRCPDataHolder*>(&source)) {
    // RCP (x, y, z) → FMS (−x, −z, y).
    SetAirCraftX(-rcp->GetAirCraftX());
    SetAirCraftY(-rcp->GetAirCraftZ());
    SetAirCraftZ(rcp->GetAirCraftY());
  } else if (const auto* fms = dynamic_cast<const TFMSDataHolder*>(&source)) {
    SetPilotZ(fms->GetPilotZ());
  }
}

// ---- TRCPDataHolder ----

TIntVector TRCPDataHolder::GetVector() const { return vector_; }
void TRCPDataHolder::SetVector(TIntVector value) { StoreIfChanged(*this, vector_, value); }
TCurrencyTriple TRCPDataHolder::GetTriple1() const { return triple1_; }
void TRCPDataHolder::SetTriple1(TCurrencyTriple value) { StoreIfChanged(*this, triple1_, value); }
TCurrencyTriple TRCPDataHolder::GetTriple2() const { return triple2_; }
void TRCPDataHolder::SetTriple2(TCurrencyTriple value) { StoreIfChanged(*this, triple2_, value); }
TCurrencyTriple TRCPDataHolder::GetTriple3() const { return triple3_; }
void TRCPDataHolder::SetTriple3(TCurrencyTriple value) { StoreIfChanged(*this, triple3_, value); }
Currency TRCPDataHolder::GetAirCraftRotate() const { return airCraftRotate_; }
void TRCPDataHolder::SetAirCraftRotate(Currency value) {
  StoreIfChanged(*this, airCraftRotate_, value);
}

void TRCPDataHolder::SetDefaults() {
  TSimDataHolder::SetDefaults();
  SetVector(TIntVector{0, -1, 0});
  SetTriple1(TCurrencyTriple{Fixed(10000), Fixed(10000), Fixed(10000)});
  SetTriple2(TCurrencyTriple{Fixed(10000), Fixed(10000), Fixed(10000)});
  SetTriple3(TCurrencyTriple{Fixed(2000), Fixed(2000), Fixed(2000)});
  SetAirCraftRotate(Fixed(0));
  // The RCP axes put the FMS defaults (−5.0, 0, −1.7) at (5.0, −1.7, 0).
  SetAirCraftX(Fixed(50000));
  SetAirCraftY(Fixed(-17000));
  SetAirCraftZ(Fixed(0));
}

void TRCPDataHolder::Assign(const TNotifyPersistent& source) {
  TSimDataHolder::Assign(source);
  if (const auto* fms = dynamic_cast<const TFMSDataHolder*>(&source)) {
    // FMS (x, y, z) → RCP (−x, z, −y): the inverse of the conversion above.
    SetAirCraftX(-fms->GetAirCraftX());
    SetAirCraftY(fms->GetAirCraftZ());
    SetAirCraftZ(-fms->GetAirCraftY());
  } else if (const auto* rcp = dynamic_cast<const TRCPDataHolder*>(&source)) {
    SetVector(rcp->GetVector());
    SetTriple1(rcp->GetTriple1());
    SetTriple2(rcp->GetTriple2());
    SetTriple3(rcp->GetTriple3());
    SetAirCraftRotate(rcp->GetAirCraftRotate());
  }
}

}  // namespace skyfold
