/* The master + slave example of README.md, kept compiling and running as a test. */
#include <stdio.h>
#include <stdlib.h>

#include "Orvex.h"

/* Job function, run on a slave worker: adds the two integers it was sent. */
static OrvexReturnValue* ORVEX_CALL Add(OrvexSlave* slave, int32_t master, int32_t jobId,
                                        OrvexParameterList* params, OrvexReceivedStream* stream) {
    int32_t a = Orvex_Parameter_GetInteger(params);
    int32_t b = Orvex_Parameter_GetInteger(params);
    (void)slave, (void)master, (void)jobId, (void)stream;
    return Orvex_Return_Integer(a + b);
}

/* This master takes no streams relayed from other masters. */
static int32_t ORVEX_CALL NoRelay(OrvexMaster* master, int32_t slave, int32_t streamId,
                                  const OrvexChar* jobName, OrvexParameterList* params,
                                  OrvexReceivedStream* stream) {
    (void)master, (void)slave, (void)streamId, (void)jobName, (void)params;
    stream->cancelRequest = 1;
    return 0;
}

int main(int argc, char** argv) {
    int32_t port = argc > 1 ? atoi(argv[1]) : 47001;
    OrvexSlave* slave = Orvex_Slave_Init(port, 4);
    OrvexMaster* master = Orvex_Master_Init(NoRelay);
    OrvexParameterList* params = Orvex_Parameter_New();
    int32_t slaveNo, jobId, tries;
    if (slave == NULL || master == NULL) return 1;
    Orvex_Slave_AddJob(slave, "Add", "adds two integers", Add, 0);

    slaveNo = Orvex_Master_AddSlave(master, "127.0.0.1", port, "", 0, "", "", 0, 5);
    Orvex_Parameter_AddInteger(params, 40);
    Orvex_Parameter_AddInteger(params, 2);
    jobId = Orvex_Master_DoJob(master, "Add", slaveNo, params, NULL, 0, NULL, 0, 0, NULL, 0, 0, 1);

    for (tries = 0; tries < 50; ++tries) { /* events: 3 queued, 2 started, 1 finished */
        Orvex_Master_WaitEvent(master, 100);
        while (Orvex_Master_Event(master)) {
            if (Orvex_Master_Event_Type(master) == 1 && Orvex_Master_Event_JobId(master) == jobId) {
                int32_t sum = Orvex_Master_Event_JobInteger(master);
                printf("40 + 2 = %d\n", (int)sum);
                Orvex_Master_DeInit(master);
                Orvex_Slave_DeInit(slave);
                return sum == 42 ? 0 : 1;
            }
        }
    }
    Orvex_Master_DeInit(master);
    Orvex_Slave_DeInit(slave);
    return 1;
}
