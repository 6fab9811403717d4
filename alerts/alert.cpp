#include "alerts/alert.h"

const char* AlertKindName(TAlertKind kind) {
    switch (kind) {
        case TAlertKind::Cost:
            return "cost";
        case TAlertKind::Duration:
            return "duration";
        case TAlertKind::Prefix:
            return "prefix";
        case TAlertKind::Hours:
            return "hours";
        case TAlertKind::Live:
            return "live";
        case TAlertKind::Buffer:
            return "buffer";
        case TAlertKind::Silent:
            return "silent";
        case TAlertKind::Held:
            return "held";
        case TAlertKind::Db:
            return "db";
    }
    return "?";
}
