-- Stored procedures of the venue database.
--
-- Each definition runs until its line GO. Its body is SQLite SQL run statement by
-- statement, where @name is the current value of a declared parameter. A statement whose
-- columns all start with "@" assigns its first row to those parameters ("@@return" is the
-- return status, a non-NULL "@@error" fails the call with that text) and sends nothing;
-- any other statement with columns sends its rows. Clients read columns by position, so
-- the order of the columns below is the interface; the names are for people.
-- What each procedure computes is described in venuedb/SCHEMA.md.

-- Media of one server group with their files: one row per file, the files of a media
-- one after the other in file order, media in id order.
CREATE PROCEDURE sp_getmediainfobyvideoserver
  @i_ServerGroupid int = 0,
  @i_Serverid int = 0
AS
SELECT m.media_id, m.media_name, m.media_code, m.stroke_count AS number_c,
       m.language_id, m.artist_name AS text_a, coalesce(l.language_name, '') AS text_b,
       m.volume AS number_a, m.vocal_channel AS number_b, f.file_path
  FROM media_files f
  JOIN medias m ON m.media_id = f.media_id
  LEFT JOIN languages l ON l.language_id = m.language_id
 WHERE f.group_id = @i_ServerGroupid
 ORDER BY f.media_id, f.file_order;
GO

-- Every file server of the venue.
CREATE PROCEDURE sp_getAllfileservers
AS
SELECT fileserver_id, fileserver_IpAddress, stream_port, group_id, max_connections,
       fileserver_name
  FROM fileservers
 ORDER BY fileserver_id;
GO

-- Every room of the venue.
CREATE PROCEDURE sp_getroomInfobyvideoserver
AS
SELECT room_id, room_info, room_address, room_number, room_serialno
  FROM rooms
 ORDER BY room_id;
GO

-- One page of a ranked play list: @isnewsong 1 gives the new songs, otherwise @num picks
-- the list of all time (0), of the week (7) or of the month (30). The other inputs narrow
-- the list the way the song-search pad does; zero, NULL or empty means "any".
CREATE PROCEDURE spa_sequencemedia
  @num int = 0,
  @isnewsong int = 0,
  @len int = 0,
  @soundsequence varchar(50) = NULL,
  @Media_HeadStroke varchar(10) = NULL,
  @Media_StrokeNum int = 0,
  @language_id int = 0,
  @language_name varchar(20) = NULL,
  @typeid int = 1,
  @pagecount int = 200,
  @room_id int = 0,
  @room_serialno varchar(20) = NULL,
  @room_ipaddress varchar(20) = NULL,
  @media_name varchar(100) = NULL
AS
SELECT c.media_id, m.media_name, m.media_code, c.chart_rank, c.play_count
  FROM media_charts c
  JOIN medias m ON m.media_id = c.media_id
 WHERE c.chart_name = CASE WHEN @isnewsong = 1 THEN 'new'
                           WHEN coalesce(@num, 0) = 0 THEN 'all'
                           WHEN @num = 7 THEN 'week'
                           WHEN @num = 30 THEN 'month' END
   AND (coalesce(@len, 0) = 0 OR m.name_length = @len)
   AND (coalesce(@soundsequence, '') = ''
        OR substr(m.sound_initials, 1, length(@soundsequence)) = @soundsequence)
   AND (coalesce(@Media_HeadStroke, '') = '' OR m.head_stroke = @Media_HeadStroke)
   AND (coalesce(@Media_StrokeNum, 0) = 0 OR m.stroke_count = @Media_StrokeNum)
   AND (coalesce(@language_id, 0) = 0 OR m.language_id = @language_id)
   AND (coalesce(@language_name, '') = ''
        OR m.language_id IN (SELECT language_id FROM languages
                              WHERE language_name = @language_name))
   AND (coalesce(@media_name, '') = ''
        OR substr(CAST(m.media_name AS BLOB), 1, length(CAST(@media_name AS BLOB)))
           = CAST(@media_name AS BLOB))
 ORDER BY CASE WHEN @typeid = 2 THEN m.media_code ELSE c.chart_rank END, c.chart_rank
 LIMIT CASE WHEN @pagecount IS NULL OR @pagecount < 0 THEN -1 ELSE @pagecount END;
GO

-- The next media the room at @userip has queued: the oldest queued selection, which is
-- marked delivered so that the following call gives the one after it. 0 when none.
CREATE PROCEDURE spm_getplayingmedia
  @userip varchar(20) = NULL,
  @media_id int = 0 OUTPUT
AS
SELECT 0 AS "@media_id";
UPDATE room_selections
   SET state = 1, delivered_at = datetime('now', 'localtime')
 WHERE selection_id = (SELECT s.selection_id
                         FROM room_selections s
                         JOIN rooms r ON r.room_id = s.room_id
                        WHERE r.room_address = @userip AND s.state = 0
                        ORDER BY s.queued_at, s.selection_id
                        LIMIT 1)
RETURNING media_id AS "@media_id";
GO

-- An advertisement: entry (@sequence modulo the number of enabled advertisements) in
-- advertisement order. Return status 0, or -1 with @media_id 0 when there is none.
CREATE PROCEDURE spm_getadsfilepath
  @sequence int = 0,
  @room_id int = 0,
  @room_ipaddress varchar(20) = NULL,
  @media_id int = 0 OUTPUT,
  @ad_count int = 0
AS
SELECT 0 AS "@media_id", count(*) AS "@ad_count", -1 AS "@@return"
  FROM advertisements
 WHERE is_enabled = 1;
SELECT a.media_id AS "@media_id", 0 AS "@@return"
  FROM advertisements a
 WHERE a.is_enabled = 1
 ORDER BY a.sort_order, a.ad_id
 LIMIT 1 OFFSET ((coalesce(@sequence, 0) % max(@ad_count, 1)) + max(@ad_count, 1))
                % max(@ad_count, 1);
GO

-- Connection counts of the servers of a group (of one server when @fileserver_id is
-- given). Servers that are disabled, and every server of a group marked invalid, are
-- left out.
CREATE PROCEDURE sp_getfileserverconnectioninfo
  @group_id int = NULL,
  @fileserver_id int = NULL
AS
SELECT c.fileserver_id, c.group_id, c.connection_count,
       coalesce(nullif(c.fileserver_ipaddress, ''), f.fileserver_IpAddress, '')
         AS fileserver_ipaddress,
       c.totalconnection_count, coalesce(f.fileserver_name, '') AS fileserver_name,
       coalesce(c.updated_at, '') AS updated_at
  FROM fileserver_connections c
  LEFT JOIN fileservers f ON f.fileserver_id = c.fileserver_id
  LEFT JOIN server_groups g ON g.group_id = c.group_id
 WHERE c.group_id = @group_id
   AND (@fileserver_id IS NULL OR c.fileserver_id = @fileserver_id)
   AND coalesce(f.is_enabled, 1) <> 0
   AND coalesce(g.is_valid, 1) <> 0
 ORDER BY c.fileserver_id;
GO

-- File servers of the registry. With @groupID: the enabled servers of that group when the
-- group is valid. Otherwise every server that matches all the filters given (@id,
-- @ipaddress, @group_id, @group_name; NULL matches anything).
CREATE PROCEDURE sp_getfileservers
  @groupID int = NULL,
  @id int = NULL,
  @ipaddress varchar(20) = NULL,
  @group_id int = NULL,
  @group_name varchar(50) = NULL
AS
SELECT f.fileserver_id, f.fileserver_name, f.fileserver_IpAddress, f.stream_port,
       f.max_connections, f.is_enabled, coalesce(g.group_name, '') AS group_name,
       coalesce(g.is_valid, 1) AS group_is_valid, f.group_id
  FROM fileservers f
  LEFT JOIN server_groups g ON g.group_id = f.group_id
 WHERE (@groupID IS NULL
        OR (f.group_id = @groupID AND f.is_enabled <> 0 AND coalesce(g.is_valid, 1) <> 0))
   AND (@id IS NULL OR f.fileserver_id = @id)
   AND (@ipaddress IS NULL OR f.fileserver_IpAddress = @ipaddress)
   AND (@group_id IS NULL OR f.group_id = @group_id)
   AND (@group_name IS NULL OR g.group_name = @group_name)
 ORDER BY f.fileserver_id;
GO

-- The fire-alarm entries of a player address; column 12 is the video file.
CREATE PROCEDURE sp_lookupfirealerts
  @ipaddress varchar(20) = NULL
AS
SELECT a.fire_alert_id, coalesce(r.room_id, 0) AS room_id, a.ipaddress,
       coalesce(r.room_number, 0) AS room_number, coalesce(r.room_info, '') AS room_info,
       a.zone_name, a.alarm_level, a.exit_hint, a.is_enabled, a.updated_at,
       a.video_format, a.video_file
  FROM fire_alerts a
  LEFT JOIN rooms r ON r.room_address = a.ipaddress
 WHERE a.ipaddress = @ipaddress AND a.is_enabled <> 0
 ORDER BY a.fire_alert_id;
GO

CREATE PROCEDURE sp_getfirealertdefaultvideofile
AS
SELECT default_video_file, updated_at FROM fire_alarm_settings WHERE setting_id = 1;
GO

CREATE PROCEDURE sp_getfirealerthomepage
AS
SELECT home_page, updated_at FROM fire_alarm_settings WHERE setting_id = 1;
GO

-- Records one play of a media and counts it.
CREATE PROCEDURE SP_SaveMediaOrderInfo
  @i_iMediaID int = 0,
  @i_dtmBeginPlayingTime datetime = NULL,
  @i_dtmEndPlayingTime datetime = NULL,
  @i_strRoomIP varchar(20) = NULL,
  @i_strSongType int = 0
AS
INSERT INTO play_records (media_id, begin_time, end_time, room_address, song_type)
VALUES (@i_iMediaID, @i_dtmBeginPlayingTime, @i_dtmEndPlayingTime, @i_strRoomIP,
        coalesce(@i_strSongType, 0));
UPDATE medias SET play_count = play_count + 1 WHERE media_id = @i_iMediaID;
GO

-- Opens a trade log for a media played in a room. Error 1 when the media does not exist.
CREATE PROCEDURE sp_addlog
  @ipaddress varchar(20) = NULL,
  @media_id int = 0,
  @tradelog_id int = 0 OUTPUT,
  @error_code int = 0 OUTPUT,
  @error_string varchar(200) = NULL OUTPUT,
  @reserved varchar(100) = NULL
AS
SELECT 0 AS "@tradelog_id", 0 AS "@error_code", '' AS "@error_string";
SELECT 1 AS "@error_code",
       'media ' || coalesce(@media_id, 'NULL') || ' does not exist' AS "@error_string"
 WHERE NOT EXISTS (SELECT 1 FROM medias WHERE media_id = @media_id);
INSERT INTO trade_logs (room_address, media_id, reserved)
SELECT @ipaddress, @media_id, @reserved WHERE @error_code = 0
RETURNING tradelog_id AS "@tradelog_id";
GO

-- Closes a trade log. Error 2 when it does not exist.
CREATE PROCEDURE sp_modifylog
  @tradelog_id int = 0,
  @error_code int = 0 OUTPUT,
  @error_string varchar(200) = NULL OUTPUT,
  @reserved varchar(100) = NULL
AS
SELECT 0 AS "@error_code", '' AS "@error_string";
SELECT 2 AS "@error_code",
       'trade log ' || coalesce(@tradelog_id, 'NULL') || ' does not exist' AS "@error_string"
 WHERE NOT EXISTS (SELECT 1 FROM trade_logs WHERE tradelog_id = @tradelog_id);
UPDATE trade_logs
   SET state = 1, modified_at = datetime('now', 'localtime'),
       reserved = coalesce(@reserved, reserved)
 WHERE tradelog_id = @tradelog_id;
GO

-- Whether a media may play in a room: the most specific matching authorization row
-- decides (room and media, then room or media, then venue-wide; the newest on a tie).
-- No matching row: authorized. A deny gives error 3 with the row's reason.
CREATE PROCEDURE sp_getauthorization
  @ipaddress varchar(20) = NULL,
  @media_id int = 0,
  @error_code int = 0 OUTPUT,
  @error_string varchar(200) = NULL OUTPUT,
  @reserved varchar(100) = NULL
AS
SELECT 0 AS "@error_code", '' AS "@error_string";
SELECT CASE WHEN a.allowed <> 0 THEN 0 ELSE 3 END AS "@error_code",
       CASE WHEN a.allowed <> 0 THEN ''
            WHEN a.reason = '' THEN 'not authorized'
            ELSE a.reason END AS "@error_string"
  FROM authorizations a
 WHERE (a.room_address IS NULL OR a.room_address = @ipaddress)
   AND (a.media_id IS NULL OR a.media_id = @media_id)
 ORDER BY (a.room_address IS NOT NULL) + (a.media_id IS NOT NULL) DESC,
          a.authorization_id DESC
 LIMIT 1;
GO

-- Registers a file server's connection count, replacing an earlier registration.
CREATE PROCEDURE sp_addfileserverconnectioninfo
  @group_id int = 0,
  @fileserver_id int = 0,
  @connection_count int = 0,
  @fileserver_ipaddress1 varchar(100) = NULL,
  @totalconnection_count int = 0
AS
INSERT INTO fileserver_connections
  (group_id, fileserver_id, connection_count, fileserver_ipaddress, totalconnection_count,
   created_at, updated_at)
VALUES (@group_id, @fileserver_id, coalesce(@connection_count, 0), @fileserver_ipaddress1,
        coalesce(@totalconnection_count, 0), datetime('now', 'localtime'),
        datetime('now', 'localtime'))
ON CONFLICT (group_id, fileserver_id) DO UPDATE
   SET connection_count = excluded.connection_count,
       fileserver_ipaddress = excluded.fileserver_ipaddress,
       totalconnection_count = excluded.totalconnection_count,
       created_at = excluded.created_at, updated_at = excluded.updated_at;
GO

-- Updates a file server's connection count (registering it when it is not yet); a NULL
-- address keeps the one registered.
CREATE PROCEDURE sp_modifyfileserverconnectioninfo
  @group_id int = 0,
  @fileserver_id int = 0,
  @connection_count int = 0,
  @fileserver_ipaddress1 varchar(100) = NULL,
  @totalconnection_count int = 0
AS
INSERT INTO fileserver_connections
  (group_id, fileserver_id, connection_count, fileserver_ipaddress, totalconnection_count,
   created_at, updated_at)
VALUES (@group_id, @fileserver_id, coalesce(@connection_count, 0), @fileserver_ipaddress1,
        coalesce(@totalconnection_count, 0), datetime('now', 'localtime'),
        datetime('now', 'localtime'))
ON CONFLICT (group_id, fileserver_id) DO UPDATE
   SET connection_count = excluded.connection_count,
       fileserver_ipaddress = coalesce(excluded.fileserver_ipaddress, fileserver_ipaddress),
       totalconnection_count = excluded.totalconnection_count,
       updated_at = excluded.updated_at;
GO

-- Deletes the connection count of one server, or of the whole group when
-- @fileserver_id is not given.
CREATE PROCEDURE sp_deletefileserverconnectioninfo
  @group_id int = NULL,
  @fileserver_id int = NULL
AS
DELETE FROM fileserver_connections
 WHERE group_id = @group_id
   AND (@fileserver_id IS NULL OR fileserver_id = @fileserver_id);
GO

-- Marks a server group valid (non-zero) or invalid (0). Fails for an unknown group.
CREATE PROCEDURE sp_modifyservergroup
  @curid int = 0,
  @isvalid int = 1
AS
SELECT 'server group ' || coalesce(@curid, 'NULL') || ' does not exist' AS "@@error"
 WHERE NOT EXISTS (SELECT 1 FROM server_groups WHERE group_id = @curid);
UPDATE server_groups
   SET is_valid = CASE WHEN coalesce(@isvalid, 0) <> 0 THEN 1 ELSE 0 END
 WHERE group_id = @curid;
GO
