-- The venue database: media with their files, rooms, file servers and their groups,
-- play lists, fire-alarm media, trade logs, play records, authorizations and what the
-- rooms have queued. Texts are stored as the bytes the venue writes (code page 936 for
-- Chinese), never converted. Table by table description: venuedb/SCHEMA.md.

-- Media classes and the code ranges that imply them. A code outside every range is a song.
CREATE TABLE media_classes (
  class_id   INTEGER PRIMARY KEY,
  class_name TEXT NOT NULL UNIQUE
);
INSERT INTO media_classes VALUES (1, 'film'), (2, 'song'), (3, 'ad');

CREATE TABLE media_code_ranges (
  code_low  INTEGER NOT NULL,
  code_high INTEGER NOT NULL,
  class_id  INTEGER NOT NULL REFERENCES media_classes(class_id),
  PRIMARY KEY (code_low, code_high)
);
INSERT INTO media_code_ranges VALUES
  (10000, 11999, 1), (30000, 30999, 3), (100000, 199999, 1), (3000000, 3999999, 3);

CREATE TABLE languages (
  language_id   INTEGER PRIMARY KEY,
  language_name TEXT NOT NULL
);

CREATE TABLE medias (
  media_id      INTEGER PRIMARY KEY,
  media_name    TEXT NOT NULL,
  media_code    TEXT NOT NULL UNIQUE,
  artist_name   TEXT NOT NULL DEFAULT '',
  language_id   INTEGER NOT NULL DEFAULT 0 REFERENCES languages(language_id),
  volume        INTEGER NOT NULL DEFAULT 80,
  vocal_channel INTEGER NOT NULL DEFAULT 0,
  stroke_count  INTEGER NOT NULL DEFAULT 0,
  head_stroke   TEXT NOT NULL DEFAULT '',
  name_length   INTEGER NOT NULL DEFAULT 0,
  sound_initials TEXT NOT NULL DEFAULT '',
  added_on      TEXT NOT NULL DEFAULT '2026-01-01',
  play_count    INTEGER NOT NULL DEFAULT 0
);

-- The class of every media, as its code implies it.
CREATE VIEW media_class_of AS
  SELECT m.media_id,
         coalesce((SELECT r.class_id FROM media_code_ranges r
                    WHERE CAST(m.media_code AS INTEGER) BETWEEN r.code_low AND r.code_high),
                  2) AS class_id
    FROM medias m;

-- Server groups hold copies of media files; every file server belongs to one group.
CREATE TABLE server_groups (
  group_id   INTEGER PRIMARY KEY,
  group_name TEXT NOT NULL,
  is_valid   INTEGER NOT NULL DEFAULT 1
);

CREATE TABLE fileservers (
  fileserver_id        INTEGER PRIMARY KEY,
  fileserver_name      TEXT NOT NULL,
  fileserver_IpAddress TEXT NOT NULL,
  stream_port          INTEGER NOT NULL DEFAULT 8554,
  group_id             INTEGER NOT NULL REFERENCES server_groups(group_id),
  max_connections      INTEGER NOT NULL DEFAULT 200,
  is_enabled           INTEGER NOT NULL DEFAULT 1
);
CREATE INDEX fileservers_by_group ON fileservers(group_id, fileserver_id);

-- Files of a media, per server group that holds them, in play order.
CREATE TABLE media_files (
  group_id   INTEGER NOT NULL REFERENCES server_groups(group_id),
  media_id   INTEGER NOT NULL REFERENCES medias(media_id),
  file_order INTEGER NOT NULL,
  file_path  TEXT NOT NULL,
  PRIMARY KEY (group_id, media_id, file_order)
) WITHOUT ROWID;

-- Connection counts the video servers report per file server.
CREATE TABLE fileserver_connections (
  group_id              INTEGER NOT NULL,
  fileserver_id         INTEGER NOT NULL,
  connection_count      INTEGER NOT NULL DEFAULT 0,
  fileserver_ipaddress  TEXT,
  totalconnection_count INTEGER NOT NULL DEFAULT 0,
  created_at            TEXT,
  updated_at            TEXT,
  PRIMARY KEY (group_id, fileserver_id)
);

CREATE TABLE rooms (
  room_id       INTEGER PRIMARY KEY,
  room_info     TEXT NOT NULL,
  room_address  TEXT NOT NULL UNIQUE,
  room_number   INTEGER NOT NULL,
  room_serialno TEXT NOT NULL DEFAULT '',
  room_kind     TEXT NOT NULL DEFAULT 'standard'
);

-- What a room has queued to play; the oldest queued selection plays next.
CREATE TABLE room_selections (
  selection_id INTEGER PRIMARY KEY,
  room_id      INTEGER NOT NULL REFERENCES rooms(room_id),
  media_id     INTEGER NOT NULL,
  queued_at    TEXT NOT NULL,
  state        INTEGER NOT NULL DEFAULT 0,
  delivered_at TEXT
);
CREATE INDEX room_selections_queue ON room_selections(room_id, state, queued_at, selection_id);

-- Venue settings; row 1 holds the background play type in Configure_Set01.
CREATE TABLE configures (
  Configure_ID    INTEGER PRIMARY KEY,
  Configure_Name  TEXT NOT NULL DEFAULT '',
  Configure_Set01 INTEGER,
  Configure_Set02 INTEGER,
  Configure_Set03 TEXT,
  Configure_Note  TEXT
);

-- The user play list, played in the order of MediaUserSet_Shunxu.
CREATE TABLE MediaUserSet (
  MediaUserSet_ID      INTEGER PRIMARY KEY,
  MediaUserSet_MediaId INTEGER NOT NULL,
  MediaUserSet_Shunxu  INTEGER NOT NULL
);
CREATE INDEX MediaUserSet_order ON MediaUserSet(MediaUserSet_Shunxu);

-- Ranked play lists kept by the back office: 'all', 'week', 'month' and 'new'.
CREATE TABLE media_charts (
  chart_name TEXT NOT NULL CHECK (chart_name IN ('all', 'week', 'month', 'new')),
  chart_rank INTEGER NOT NULL,
  media_id   INTEGER NOT NULL REFERENCES medias(media_id),
  play_count INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (chart_name, chart_rank)
);

CREATE TABLE advertisements (
  ad_id      INTEGER PRIMARY KEY,
  media_id   INTEGER NOT NULL REFERENCES medias(media_id),
  ad_title   TEXT NOT NULL DEFAULT '',
  sort_order INTEGER NOT NULL DEFAULT 0,
  is_enabled INTEGER NOT NULL DEFAULT 1
);

-- Fire-alarm video per player address, and the venue-wide default video and page.
CREATE TABLE fire_alerts (
  fire_alert_id INTEGER PRIMARY KEY,
  ipaddress     TEXT NOT NULL,
  zone_name     TEXT NOT NULL DEFAULT '',
  alarm_level   INTEGER NOT NULL DEFAULT 1,
  exit_hint     TEXT NOT NULL DEFAULT '',
  video_format  TEXT NOT NULL DEFAULT 'MPEG1',
  video_file    TEXT NOT NULL,
  is_enabled    INTEGER NOT NULL DEFAULT 1,
  updated_at    TEXT NOT NULL DEFAULT '2026-01-01 00:00:00'
);
CREATE INDEX fire_alerts_by_address ON fire_alerts(ipaddress);

CREATE TABLE fire_alarm_settings (
  setting_id         INTEGER PRIMARY KEY CHECK (setting_id = 1),
  default_video_file TEXT NOT NULL,
  home_page          TEXT NOT NULL,
  updated_at         TEXT NOT NULL DEFAULT '2026-01-01 00:00:00'
);

CREATE TABLE trade_logs (
  tradelog_id  INTEGER PRIMARY KEY AUTOINCREMENT,
  room_address TEXT,
  media_id     INTEGER NOT NULL,
  state        INTEGER NOT NULL DEFAULT 0,
  reserved     TEXT,
  created_at   TEXT NOT NULL DEFAULT (datetime('now', 'localtime')),
  modified_at  TEXT
);

CREATE TABLE play_records (
  play_id      INTEGER PRIMARY KEY,
  media_id     INTEGER NOT NULL,
  begin_time   TEXT,
  end_time     TEXT,
  room_address TEXT,
  song_type    INTEGER NOT NULL DEFAULT 0,
  recorded_at  TEXT NOT NULL DEFAULT (datetime('now', 'localtime'))
);

-- A row with allowed = 0 denies the media (NULL: every media) to the room address
-- (NULL: every room). Nothing is denied unless a row says so.
CREATE TABLE authorizations (
  authorization_id INTEGER PRIMARY KEY,
  room_address     TEXT,
  media_id         INTEGER,
  allowed          INTEGER NOT NULL DEFAULT 0,
  reason           TEXT NOT NULL DEFAULT ''
);
