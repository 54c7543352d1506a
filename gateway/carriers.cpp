// Look-ups into the carrier table.
#include "gateway/carriers.h"

const Carrier* CarrierAt(int index) {
    if (index < 0 || index >= CARRIER_COUNT) return nullptr;
    return &CARRIER_TABLE[index];
}

int CarrierIndexOf(char code) {
    for (int index = 0; index < CARRIER_COUNT; ++index)
        if (CARRIER_TABLE[index].carrierCode == code) return index;
    return -1;
}

const Carrier* CarrierByCode(char code) { return CarrierAt(CarrierIndexOf(code)); }

char CarrierCodeOf(int index) {
    const Carrier* carrier = CarrierAt(index);
    return carrier ? carrier->carrierCode : '\0';
}
