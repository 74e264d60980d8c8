// C edge of the statistics log: Orvex_Slave_EnableStatistics.
#include <cstdint>

#include "Orvex.h"
#include "core/text.hpp"
#include "slave/slave.hpp"
#include "stats/statistics_database.hpp"
#include "stats/statistics_log.hpp"

using namespace orvex;

extern "C" {

ORVEX_API intptr_t ORVEX_CALL Orvex_Slave_EnableStatistics(OrvexSlave* slave, const OrvexChar* file,
                                                           int32_t categories) {
    try {
        Slave& owner = *Slave::FromHandle(slave);
        if (categories == 0) {
            if (StatisticsLog* log = StatisticsLog::Find(owner)) log->SetCategories(0);
            return 0;
        }
        std::optional<OpenedStatistics> opened =
            file != nullptr ? OpenStatisticsDatabase(ToUtf8(ViewOf(file))) : std::nullopt;
        if (!opened) {
            // A database opened before stays in use with the new categories.
            if (StatisticsLog* log = StatisticsLog::Find(owner)) log->SetCategories(categories);
            return 0;
        }
        StatisticsLog* log = StatisticsLog::On(owner);
        return log != nullptr ? log->Use(std::move(*opened), categories) : 0;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
