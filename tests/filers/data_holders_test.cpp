// Scene data holders: change notification, defaults and the conversion of
// the aircraft position between the FMS and RCP axes.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "filers/SimDataHolders.h"
#include "imaging/Errors.h"

namespace skyfold {
namespace {

Currency C(double v) { return Currency::FromDouble(v); }

using Position = std::tuple<double, double, double>;

Position PositionOf(const TSimDataHolder& h) {
  return {h.GetAirCraftX().ToDouble(), h.GetAirCraftY().ToDouble(), h.GetAirCraftZ().ToDouble()};
}

// Counts OnChange calls on a holder.
struct ChangeCounter {
  explicit ChangeCounter(TNotifyPersistent& target) {
    target.OnChange = [this](TNotifyPersistent*) { ++count; };
  }
  int count = 0;
};

class TUnrelated : public TNotifyPersistent {};

TEST(DataHolderNotification, AreaRadiusIsRaisedTo100BeforeTheComparison) {
  TSimDataHolder h;
  ChangeCounter changes(h);
  EXPECT_EQ(h.GetAreaRadius(), 0);
  h.SetAreaRadius(50);
  EXPECT_EQ(h.GetAreaRadius(), 100);
  EXPECT_EQ(changes.count, 1);
  h.SetAreaRadius(100);
  h.SetAreaRadius(-7);  // also raised to 100: unchanged
  EXPECT_EQ(changes.count, 1);
  h.SetAreaRadius(101);
  EXPECT_EQ(h.GetAreaRadius(), 101);
  EXPECT_EQ(changes.count, 2);
}

TEST(DataHolderNotification, ValueSettersNotifyOnlyWhenTheStoredIntegerChanges) {
  TFMSDataHolder fms;
  ChangeCounter changes(fms);
  fms.SetAirCraftX(C(0));
  fms.SetAirCraftY(C(0));
  fms.SetAirCraftZ(C(0));
  fms.SetSceneRotate(C(0));
  fms.SetPilotZ(C(0));
  EXPECT_EQ(changes.count, 0);

  fms.SetAirCraftX(C(1.5));
  fms.SetAirCraftY(C(-2));
  fms.SetAirCraftZ(Currency::FromRaw(1));  // one ten-thousandth is a change
  fms.SetSceneRotate(C(90));
  fms.SetPilotZ(C(0.25));
  EXPECT_EQ(changes.count, 5);
  EXPECT_EQ(fms.GetAirCraftZ().raw, 1);
  EXPECT_EQ(fms.GetPilotZ(), C(0.25));

  fms.SetAirCraftX(C(1.5));
  fms.SetPilotZ(C(0.25));
  EXPECT_EQ(changes.count, 5);
}

TEST(DataHolderNotification, RecordSettersCompareAllThreeComponents) {
  TRCPDataHolder rcp;
  ChangeCounter changes(rcp);
  rcp.SetVector(TIntVector{0, 0, 0});
  rcp.SetTriple1(TCurrencyTriple{});
  EXPECT_EQ(changes.count, 0);

  for (int component = 0; component < 3; ++component) {
    TIntVector v = rcp.GetVector();
    (component == 0 ? v.X : component == 1 ? v.Y : v.Z) = 7;
    rcp.SetVector(v);
    rcp.SetVector(v);
  }
  EXPECT_EQ(changes.count, 3);
  EXPECT_EQ(rcp.GetVector(), (TIntVector{7, 7, 7}));

  TCurrencyTriple t{C(1), C(2), C(3)};
  rcp.SetTriple2(t);
  rcp.SetTriple2(t);
  t.Z = C(3.0001);
  rcp.SetTriple2(t);
  rcp.SetTriple3(t);
  EXPECT_EQ(changes.count, 6);
  EXPECT_EQ(rcp.GetTriple2(), t);
  EXPECT_EQ(rcp.GetTriple1(), TCurrencyTriple{});

  rcp.SetAirCraftRotate(C(45));
  rcp.SetAirCraftRotate(C(45));
  EXPECT_EQ(changes.count, 7);
}

TEST(DataHolderNotification, AnUpdateHoldsNotificationsBackUntilItEnds) {
  TRCPDataHolder rcp;
  ChangeCounter changes(rcp);
  rcp.BeginUpdate();
  rcp.BeginUpdate();
  rcp.SetAirCraftX(C(1));
  rcp.SetVector(TIntVector{1, 2, 3});
  rcp.EndUpdate();
  EXPECT_EQ(changes.count, 0);
  rcp.EndUpdate();
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(rcp.GetAirCraftX(), C(1));
}

TEST(DataHolderDefaults, FmsDefaultsNotifyOncePerChangedValue) {
  TFMSDataHolder fms;
  std::vector<Position> seen;
  fms.OnChange = [&](TNotifyPersistent*) { seen.push_back(PositionOf(fms)); };
  fms.SetPilotZ(C(3));
  seen.clear();

  fms.SetDefaults();
  // PilotZ, AirCraftX, AirCraftZ, AreaRadius change; Y and SceneRotate stay 0.
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], Position(0, 0, 0));
  EXPECT_EQ(seen[1], Position(-5, 0, 0));
  EXPECT_EQ(seen[2], Position(-5, 0, -1.7));
  EXPECT_EQ(PositionOf(fms), Position(-5, 0, -1.7));
  EXPECT_EQ(fms.GetAreaRadius(), 1000);
  EXPECT_EQ(fms.GetPilotZ(), C(0));
  EXPECT_EQ(fms.GetSceneRotate(), C(0));

  fms.SetDefaults();
  EXPECT_EQ(seen.size(), 4u);
}

TEST(DataHolderDefaults, RcpDefaultsMoveTheAircraftToItsOwnAxesLast) {
  TRCPDataHolder rcp;
  std::vector<Position> seen;
  rcp.OnChange = [&](TNotifyPersistent*) { seen.push_back(PositionOf(rcp)); };
  rcp.SetDefaults();

  // Base defaults (X, Z, radius), Vector, three triples, then X, Y, Z again.
  const std::vector<Position> expected = {
      {-5, 0, 0},    {-5, 0, -1.7}, {-5, 0, -1.7}, {-5, 0, -1.7},   {-5, 0, -1.7},
      {-5, 0, -1.7}, {-5, 0, -1.7}, {5, 0, -1.7},  {5, -1.7, -1.7}, {5, -1.7, 0}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(rcp.GetAreaRadius(), 1000);
  EXPECT_EQ(rcp.GetVector(), (TIntVector{0, -1, 0}));
  EXPECT_EQ(rcp.GetTriple1(), (TCurrencyTriple{C(1), C(1), C(1)}));
  EXPECT_EQ(rcp.GetTriple2(), (TCurrencyTriple{C(1), C(1), C(1)}));
  EXPECT_EQ(rcp.GetTriple3(), (TCurrencyTriple{C(0.2), C(0.2), C(0.2)}));
  EXPECT_EQ(rcp.GetAirCraftRotate(), C(0));
}

TEST(DataHolderAssign, FmsAndRcpPositionsConvertBothWays) {
  TFMSDataHolder fms;
  fms.SetDefaults();
  fms.SetSceneRotate(C(12.5));
  fms.SetAreaRadius(640);

  TRCPDataHolder rcp;
  rcp.Assign(fms);
  EXPECT_EQ(PositionOf(rcp), Position(5, -1.7, 0));
  EXPECT_EQ(rcp.GetSceneRotate(), C(12.5));
  EXPECT_EQ(rcp.GetAreaRadius(), 640);

  TFMSDataHolder back;
  back.Assign(rcp);
  EXPECT_EQ(PositionOf(back), Position(-5, 0, -1.7));
  EXPECT_EQ(back.GetSceneRotate(), C(12.5));
  EXPECT_EQ(back.GetAreaRadius(), 640);

  // An asymmetric position catches a swapped pair of axes.
  fms.SetAirCraftX(C(1));
  fms.SetAirCraftY(C(2));
  fms.SetAirCraftZ(C(3));
  rcp.Assign(fms);
  EXPECT_EQ(PositionOf(rcp), Position(-1, 3, -2));
  back.Assign(rcp);
  EXPECT_EQ(PositionOf(back), Position(1, 2, 3));
}

TEST(DataHolderAssign, FormatOnlyValuesPassOnlyBetweenHoldersOfTheSameKind) {
  TFMSDataHolder fms;
  fms.SetPilotZ(C(1.25));
  TRCPDataHolder rcp;
  rcp.SetDefaults();
  rcp.SetAirCraftRotate(C(30));

  TFMSDataHolder fms2;
  fms2.SetPilotZ(C(-4));
  fms2.Assign(rcp);
  EXPECT_EQ(fms2.GetPilotZ(), C(-4));
  fms2.Assign(fms);
  EXPECT_EQ(fms2.GetPilotZ(), C(1.25));

  TRCPDataHolder rcp2;
  rcp2.Assign(fms);
  EXPECT_EQ(rcp2.GetVector(), TIntVector{});
  EXPECT_EQ(rcp2.GetAirCraftRotate(), C(0));
  rcp2.Assign(rcp);
  EXPECT_EQ(rcp2.GetVector(), rcp.GetVector());
  EXPECT_EQ(rcp2.GetTriple1(), rcp.GetTriple1());
  EXPECT_EQ(rcp2.GetTriple2(), rcp.GetTriple2());
  EXPECT_EQ(rcp2.GetTriple3(), rcp.GetTriple3());
  EXPECT_EQ(rcp2.GetAirCraftRotate(), C(30));
  EXPECT_EQ(PositionOf(rcp2), PositionOf(rcp));
}

TEST(DataHolderAssign, CopiesGoThroughTheSetters) {
  TSimDataHolder fresh;
  TSimDataHolder target;
  ChangeCounter changes(target);
  target.Assign(fresh);
  // A fresh holder's radius of 0 arrives as 100.
  EXPECT_EQ(target.GetAreaRadius(), 100);
  EXPECT_EQ(changes.count, 1);

  TRCPDataHolder same;
  same.SetDefaults();
  TRCPDataHolder copy;
  copy.Assign(same);
  ChangeCounter copyChanges(copy);
  copy.Assign(same);
  EXPECT_EQ(copyChanges.count, 0);
}

TEST(DataHolderAssign, AnUnrelatedSourceIsRefusedByName) {
  TUnrelated other;
  TFMSDataHolder fms;
  fms.SetAirCraftX(C(2));
  try {
    fms.Assign(other);
    FAIL() << "Assign accepted an unrelated object";
  } catch (const ArgumentError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot assign a TUnrelated to a TFMSDataHolder.");
  }
  EXPECT_EQ(fms.GetAirCraftX(), C(2));
}

}  // namespace
}  // namespace skyfold
