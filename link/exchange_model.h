// What identification learns about the exchange, what its model can do,
// and how its call records read for that model.
#pragma once

#include <cstdint>
#include <string>

#include "link/record.h"

// The result of one identification of the exchange.
struct TIdentification {
    bool MultiUnit = false;
    int UnitCount = 0;
    uint8_t Key = 0;           // the scrambling key of every reply
    std::string ExchangeName;  // Windows-1251 bytes, at most 17
    std::string ModelName;
    std::string SoftwareVersion;
    std::string SerialNumber;
    int TickLength = 6;  // seconds per tick of the record times
    TDateTimeParts ExchangeClock;
    int BufferCapacity = 100;
    int RecordsInBuffer = 0;
    // Whether the model needs a unit selected before its status request.
    bool SelectBeforeStatus = false;
    // Units whose status showed more records than places (counted as the
    // units were asked); each is to be reported to the operator.
    int InconsistentBufferReports = 0;
};

// Models that answer the line-state query (the real-time monitor).
bool SupportsLineStateQuery(const std::string& modelName);
// Whether each unit is selected before its billing buffer is read: every
// multi-unit exchange and the QS800.
bool SelectsUnitForReading(const TIdentification& exchange);

// Model name, unit count and whether each unit is selected before its
// status request, for a type code of the identification reply; false for a
// code outside the model table.
bool LookUpModel(uint8_t typeCode, std::string& model, int& units, bool& selectBeforeStatus);

// Trunk text of code b for the identified model (empty where the model has
// no trunk numbering).
std::string TrunkText(const TIdentification& exchange, uint8_t b);

// Decodes one descrambled record payload of length len (bytes past len, up
// to the 11 of a full record head, read as zero) by the identified model and
// tick length.
TRecord DecodeRecord(const TIdentification& exchange, const uint8_t* payload, int len);
