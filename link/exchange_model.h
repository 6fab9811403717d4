// What identification learns about the exchange, what its model can do,
// and how its call records read for that model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/record.h"

// One unit's billing buffer by its status reply.
struct TUnitBuffer {
    int Capacity = 0;  // records it has room for
    int Records = 0;   // records it holds (as reported: may exceed Capacity)
};

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
    // Each unit's buffer, in the order asked, as far as identification got.
    std::vector<TUnitBuffer> UnitBuffers;
};

// Every rule that differs by exchange model, in one place. Each rule tells
// models apart by their name the way the program always has (some by the
// name's start, some by a part of it), so a model named by the exchange
// itself gets the same rules as ever.
enum class TTrunkStyle { None, QTV, QS16, QS800, Pollo };
enum class TLineNumbering { None, QTV, QS16, QS800 };
struct TModelRules {
    // It answers the line-state query (the real-time monitor): QTV610 and
    // QTV930-1.
    bool AnswersLineState = false;
    // Each unit is selected before its billing buffer is read: every
    // multi-unit exchange and the QS800.
    bool SelectsUnitForReading = false;
    // How a record's trunk byte reads; None: no trunk text.
    TTrunkStyle RecordTrunks = TTrunkStyle::None;
    // The call log writes a one-digit trunk with a leading zero.
    bool PadsOneDigitTrunk = false;
    // How the line-state reply numbers subscriber lines (and every kind but
    // the trunk), and trunks; None: -1.
    TLineNumbering StateLines = TLineNumbering::None;
    TLineNumbering StateTrunks = TLineNumbering::None;
    // The monitor's grid of lines, header row and column included: 16 x 11
    // (lines 200 to 349) for the QTV930-1, else 13 x 11 (200 to 319).
    int GridColumns = 13;
    int GridRows = 11;
};
TModelRules ModelRules(const std::string& modelName, bool multiUnit = false);

// Models that answer the line-state query (the real-time monitor).
bool SupportsLineStateQuery(const std::string& modelName);
// Whether each unit is selected before its billing buffer is read.
bool SelectsUnitForReading(const TIdentification& exchange);

// Model name, unit count and whether each unit is selected before its
// status request, for a type code of the identification reply; false for a
// code outside the model table.
bool LookUpModel(uint8_t typeCode, std::string& model, int& units, bool& selectBeforeStatus);
// The model of an identification reply of type code 2, which names its
// model in its name plate (the exchange name's first bytes, up to a zero):
// "2?B" and "3?B..." are multi-unit exchanges of 2 or 3 units named by
// those three characters, a "QS3" name keeps five characters.
void LookUpNamedModel(std::string plate, TIdentification& exchange);

// Number of subscriber line a (and of every kind but the trunk) for the
// model: -1 when the model has no such numbering.
int SubscriberLineNumber(const std::string& modelName, uint8_t a);
// Number of trunk a for the model; -1 when it has none.
int TrunkNumberOf(const std::string& modelName, uint8_t a);

// A trunk number of one digit with a "0" before it, as the exchange's own
// printouts write the trunks of two-digit numbering; any other text as it is.
std::string TwoDigitTrunk(std::string number);

// Trunk text of code b for the identified model (empty where the model has
// no trunk numbering).
std::string TrunkText(const TIdentification& exchange, uint8_t b);

// Decodes one descrambled record payload of length len (bytes past len, up
// to the 11 of a full record head, read as zero) by the identified model and
// tick length.
TRecord DecodeRecord(const TIdentification& exchange, const uint8_t* payload, int len);
