-- Seven days of history, one reading every 10 minutes up to now, for the simulator's demo
-- bus, with a few readings past the limits, so that a new demo folder has a log to browse,
-- export and draw from the first minute. Run once on a fresh clarowdata.mdb:
--   sqlite3 build/demo-home/clarowdata.mdb < tools/demo-history.sql
-- Times are serial day numbers in local time, whole seconds, as the monitor stores them.
BEGIN;

CREATE TEMP TABLE demo (k INTEGER, id TEXT, loc TEXT, temp REAL, ch2 REAL, ch2name TEXT, water INTEGER);
INSERT INTO demo VALUES
    (0, '28FF4A1C62160344',    'Incubator 1',              36.5, NULL, NULL,       0),
    (1, '28FF0B7D63160321',    'Incubator 2',              38.0, NULL, NULL,       0),
    (2, '2861C3A5050000B7',    'Bay 4, "north" wall',      37.2, NULL, NULL,       0),
    (3, '26A3F8010000009C 00', 'Seed store',               36.0, NULL, NULL,       0),
    (4, '26B14F0200000041 19', 'Growth chamber',           37.5, 50,   'Humidity', 0),
    (5, '26C7720200000088 1B', 'Propagation house',        36.8, 45,   'Light',    0),
    (6, '26D0130300000012 1C', 'Heater circuit',           38.2, 35,   'Current',  0),
    (7, '26E55A0300000065 1D', 'Plant room floor',         37.0, NULL, NULL,       1),
    (8, '26F2E80300000033 1E', 'Mist room',                36.2, 55,   'Humidity', 1);

-- 1008 slots: i = 0 is seven days before the latest whole 10 minutes.
CREATE TEMP TABLE slots AS
WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < 7 * 144 - 1)
SELECT i,
       round((floor((julianday('now', 'localtime') - 2415018.5) * 144) / 144.0 - 7 + (i + 1) / 144.0)
             * 86400) / 86400.0 AS t
FROM s;

-- A daily swing (triangle wave over 144 slots), a little jitter, and the excursions:
-- Incubator 2 overheats for an hour, Bay 4 drops below its low limit, the growth chamber's
-- humidity rises past 80, the plant room floor is wet for 40 minutes, the mist room dries out.
INSERT INTO LogTbl (SensorID, lTime, lTemp, lCh2, lWtr)
SELECT d.id, s.t,
       round(d.temp + (abs(s.i % 144 - 72) / 72.0 - 0.5) * 1.6 + ((s.i * 7 + d.k * 13) % 9 - 4) * 0.05
             + CASE WHEN d.k = 1 AND s.i BETWEEN 430 AND 435 THEN 14.5
                    WHEN d.k = 2 AND s.i BETWEEN 700 AND 704 THEN -6.4
                    ELSE 0 END, 2),
       CASE WHEN d.ch2 IS NULL THEN NULL
            ELSE d.ch2 + (s.i * 5 + d.k * 3) % 7 - 3
                 + CASE WHEN d.k = 4 AND s.i BETWEEN 300 AND 306 THEN 32
                        WHEN d.k = 8 AND s.i BETWEEN 560 AND 565 THEN -40
                        ELSE 0 END END,
       CASE WHEN d.water = 0 THEN NULL
            WHEN d.k = 7 AND s.i BETWEEN 850 AND 853 THEN 2
            ELSE 0 END
FROM demo d, slots s
ORDER BY s.i, d.k;

INSERT OR IGNORE INTO Sensors (SensorID, Location, Channel2Name, cTmp, cCh2, aTempLo, aTempHi,
                               aCh2Lo, aCh2Hi, LastR, Connected, aWtDr)
SELECT id, loc, ch2name, temp, ch2, 32, 50,
       CASE WHEN ch2 IS NULL THEN NULL ELSE 20 END, CASE WHEN ch2 IS NULL THEN NULL ELSE 80 END,
       (SELECT max(t) FROM slots), 1, CASE WHEN water = 1 THEN 0 END
FROM demo;

COMMIT;
