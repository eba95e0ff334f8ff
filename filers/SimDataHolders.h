// Scene data holders: small value objects describing a scene for the two
// scene formats (FMS and RCP). Stored with every filer; no conversion reads
// them. Setters notify only on change; Assign converts between the two
// coordinate conventions.
#pragma once

#include <cstdint>

#include "filers/Currency.h"
#include "filers/NotifyPersistent.h"

namespace skyfold {

struct TIntVector {
  std::int32_t X = 0, Y = 0, Z = 0;
  friend bool operator==(const TIntVector&, const TIntVector&) = default;
};

struct TCurrencyTriple {
  Currency X, Y, Z;
  friend bool operator==(const TCurrencyTriple&, const TCurrencyTriple&) = default;
};

class TSimDataHolder : public TNotifyPersistent {
 public:
  virtual Currency GetAirCraftX() const;
  virtual void SetAirCraftX(Currency value);
  virtual Currency GetAirCraftY() const;
  virtual void SetAirCraftY(Currency value);
  virtual Currency GetAirCraftZ() const;
  virtual void SetAirCraftZ(Currency value);
  virtual std::int32_t GetAreaRadius() const;
  // Values below 100 are raised to 100 before the comparison.
  virtual void SetAreaRadius(std::int32_t value);
  virtual Currency GetSceneRotate() const;
  virtual void SetSceneRotate(Currency value);
  virtual void SetDefaults();
  // Copies from another holder; throws ArgumentError for anything else.
  virtual void Assign(const TNotifyPersistent& source);

 private:
  Currency airCraftX_, airCraftY_, airCraftZ_;
  std::int32_t areaRadius_ = 0;
  Currency sceneRotate_;
};

class TFMSDataHolder : public TSimDataHolder {
 public:
  virtual Currency GetPilotZ() const;
  virtual void SetPilotZ(Currency value);
  void SetDefaults() override;
  void Assign(const TNotifyPersistent& source) override;

 private:
  Currency pilotZ_;
};

class TRCPDataHolder : public TSimDataHolder {
 public:
  virtual TIntVector GetVector() const;
  virtual void SetVector(TIntVector value);
  virtual TCurrencyTriple GetTriple1() const;
  virtual void SetTriple1(TCurrencyTriple value);
  virtual TCurrencyTriple GetTriple2() const;
  virtual void SetTriple2(TCurrencyTriple value);
  virtual TCurrencyTriple GetTriple3() const;
  virtual void SetTriple3(TCurrencyTriple value);
  virtual Currency GetAirCraftRotate() const;
  virtual void SetAirCraftRotate(Currency value);
  void SetDefaults() override;
  void Assign(const TNotifyPersistent& source) override;

 private:
  TIntVector vector_;
  TCurrencyTriple triple1_, triple2_, triple3_;
  Currency airCraftRotate_;
};

}  // namespace skyfold
