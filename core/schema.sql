-- The empty clarowdata.mdb that the build and the install place beside clarow.
-- Yes/no columns hold 1 (true) and 0 (false); times are REAL serial day numbers
-- (days since 1899-12-30, the time of day as the fraction).
PRAGMA journal_mode = WAL;
-- The layout version (kSchemaVersion in the program): an older file is upgraded when opened.
PRAGMA user_version = 3;

CREATE TABLE Sensors (
    SensorID     TEXT PRIMARY KEY,
    Location     TEXT,
    Channel2Name TEXT,
    cTmp         REAL,
    cCh2         REAL,
    aTempLo      REAL,
    aTempHi      REAL,
    aCh2Lo       REAL,
    aCh2Hi       REAL,
    LastR        REAL,
    InAlarm      INTEGER DEFAULT 0,
    AlType       INTEGER DEFAULT 0,
    Connected    INTEGER,
    ConcAlarms   INTEGER DEFAULT 0,
    MailSent     INTEGER DEFAULT 0,
    MailedAlType INTEGER NULL,
    wStatus      TINYINT NULL,
    aWtDr        TINYINT NULL,
    NotifySent   INTEGER DEFAULT 0,
    NotifyConc   INTEGER DEFAULT 0,
    NotifiedAlType INTEGER NULL
);

CREATE TABLE LogTbl (
    SensorID TEXT,
    lTime    REAL,
    lTemp    REAL,
    lCh2     REAL,
    lWtr     TINYINT NULL
);
CREATE INDEX LogTbl_Sensor_Time ON LogTbl (SensorID, lTime);

-- Push notifications not yet delivered (one row per event and sensor, oldest first).
CREATE TABLE Outbox (
    Id        INTEGER PRIMARY KEY AUTOINCREMENT,
    Channel   TEXT NOT NULL,
    Event     TEXT NOT NULL,
    SensorID  TEXT NOT NULL,
    Created   REAL NOT NULL,
    Payload   TEXT NOT NULL,
    Attempts  INTEGER NOT NULL DEFAULT 0,
    LastError TEXT
);

-- Read by the check step of a compaction; its content is not used.
CREATE TABLE Options (
    Name  TEXT PRIMARY KEY,
    Value TEXT
);
INSERT INTO Options (Name, Value) VALUES ('SchemaVersion', '1');
