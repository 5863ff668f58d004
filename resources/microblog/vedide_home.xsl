<?xml version="1.0" encoding="UTF-8"?>
<!--
  The timeline pages (home and, when the root says view="mentions", the statuses that mention the
  user). Turns the plug-in's VEDIDE document (uinfo: the signed-in account, msg: the
  reminder counters, wbinfo: one per status) into the page shown in the list panel. Status texts
  arrive as ready HTML (links, pictures, the rest escaped) and are emitted as they are; every other
  value is emitted as text. Every link opens as a new window, which the list panel intercepts:
  tavi:// links run actions, the others open in the user's browser.
  A service sends every member of a status, empty ones too: a member that is empty, blank or null
  ("NULL") counts as absent, and a counter shows only when it is above 0.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="no"
              doctype-public="-//W3C//DTD HTML 4.01 Transitional//EN"
              doctype-system="http://www.w3.org/TR/html4/loose.dtd"/>

  <xsl:variable name="me" select="/VEDIDE/uinfo/@id"/>

  <xsl:template match="/">
    <html>
      <head>
        <meta http-equiv="Content-Type" content="text/html; charset=UTF-8"/>
        <title>微博</title>
        <style type="text/css">
          body { margin: 0; padding: 0; background: #eef2f5; color: #333;
                 font: 12px/1.6 "Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC", sans-serif; }
          a { color: #2b6dad; text-decoration: none; }
          a:hover { text-decoration: underline; }
          .bar { position: sticky; top: 0; padding: 6px 10px; background: #fff;
                 border-bottom: 1px solid #d8dee4; overflow: hidden; }
          .bar .me { font-weight: bold; }
          .bar .screen { color: #888; }
          .bar .refresh { float: right; padding: 0 8px; border: 1px solid #c5d3e0; border-radius: 3px;
                          background: #f5f9fc; }
          .views { display: inline-block; margin-left: 18px; }
          .views a { display: inline-block; margin-right: 12px; color: #666;
                     border-bottom: 2px solid transparent; }
          .views a[aria-current] { color: #2b6dad; font-weight: bold; border-bottom-color: #2b6dad; }
          .news { margin-top: 2px; color: #c0392b; }
          .news span { margin-right: 10px; }
          .timeline { padding: 6px 8px; }
          .status { margin: 0 0 6px 0; padding: 8px 10px; background: #fff; border: 1px solid #dfe5ea;
                    border-radius: 4px; overflow: hidden; }
          .status:focus { outline: 2px solid #2b6dad; outline-offset: -2px; }
          .avatar { float: left; width: 40px; height: 40px; margin-right: 8px; border-radius: 3px; }
          .content { overflow: hidden; }
          .author { font-weight: bold; color: #2b6dad; }
          .time { color: #999; margin-left: 2px; }
          .badge { margin-left: 2px; padding: 0 4px; color: #fff; background: #7fa7cf; border-radius: 2px;
                   font-size: 11px; }
          .text { margin: 3px 0; white-space: pre-wrap; word-wrap: break-word; }
          .root { margin: 4px 0; padding: 5px 8px; background: #f4f6f8; border-left: 3px solid #c5d3e0;
                  white-space: pre-wrap; word-wrap: break-word; }
          .root .author { font-weight: normal; }
          .wb_img { display: block; max-width: 200px; max-height: 200px; margin-top: 4px;
                    border: 1px solid #e3e3e3; }
          .actions { text-align: right; color: #ccc; }
          .actions a { margin-left: 4px; }
          .actions .delete { color: #c0392b; }
          .source { float: left; color: #aaa; }
          .empty { padding: 30px; text-align: center; color: #999; }
        </style>
      </head>
      <body>
        <xsl:apply-templates select="VEDIDE"/>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="VEDIDE">
    <xsl:variable name="mentions" select="@view = 'mentions'"/>
    <div class="bar">
      <xsl:choose>
        <xsl:when test="$mentions">
          <a class="refresh" href="tavi://mentions/" target="_blank">刷新</a>
        </xsl:when>
        <xsl:otherwise>
          <a class="refresh" href="tavi://refresh/" target="_blank">刷新</a>
        </xsl:otherwise>
      </xsl:choose>
      <xsl:apply-templates select="uinfo"/>
      <!-- The two views of the list: the home timeline and the statuses that mention the user. -->
      <xsl:text> </xsl:text>
      <span class="views" role="navigation">
        <a class="view-home" href="tavi://home/" target="_blank">
          <xsl:if test="not($mentions)">
            <xsl:attribute name="aria-current">page</xsl:attribute>
          </xsl:if>
          <xsl:text>首页</xsl:text>
        </a>
        <xsl:text> </xsl:text>
        <a class="view-mentions" href="tavi://mentions/" target="_blank">
          <xsl:if test="$mentions">
            <xsl:attribute name="aria-current">page</xsl:attribute>
          </xsl:if>
          <xsl:text>提到我的</xsl:text>
        </a>
      </span>
      <xsl:apply-templates select="msg"/>
    </div>
    <div class="timeline">
      <xsl:apply-templates select="wbinfo"/>
      <xsl:if test="not(wbinfo)">
        <p class="empty">
          <xsl:choose>
            <xsl:when test="$mentions">还没有提到你的微博。</xsl:when>
            <xsl:otherwise>还没有微博。</xsl:otherwise>
          </xsl:choose>
        </p>
      </xsl:if>
    </div>
  </xsl:template>

  <xsl:template match="uinfo">
    <span class="me"><xsl:value-of select="@name"/></span>
    <xsl:if test="normalize-space(@screen_name) != '' and @screen_name != 'NULL'">
      <xsl:text> </xsl:text>
      <span class="screen">@<xsl:value-of select="@screen_name"/></span>
    </xsl:if>
  </xsl:template>

  <xsl:template match="msg">
    <xsl:if test="@timelineCount &gt; 0 or @replyCount &gt; 0 or @commentOfMeCount &gt; 0">
      <div class="news">
        <xsl:if test="@timelineCount &gt; 0">
          <span class="count-timeline">新微博 <xsl:value-of select="@timelineCount"/></span>
        </xsl:if>
        <xsl:if test="@replyCount &gt; 0">
          <span class="count-reply">新回复 <xsl:value-of select="@replyCount"/></span>
        </xsl:if>
        <xsl:if test="@commentOfMeCount &gt; 0">
          <span class="count-comment">新评论 <xsl:value-of select="@commentOfMeCount"/></span>
        </xsl:if>
      </div>
    </xsl:if>
  </xsl:template>

  <xsl:template match="wbinfo">
    <!-- A screen reader announces a status by its author and time; the host can move the keyboard
         focus to it (not a tab stop of its own: its links are). -->
    <div class="status" role="article" tabindex="-1" aria-label="{user/@name} {@created_at}">
      <!-- Only a web address goes into the page as the avatar's source. -->
      <xsl:if test="starts-with(user/@profile_image_url, 'http://') or starts-with(user/@profile_image_url, 'https://')">
        <img class="avatar" src="{user/@profile_image_url}" alt=""/>
      </xsl:if>
      <div class="content">
        <div class="head">
          <span class="author"><xsl:value-of select="user/@name"/></span>
          <xsl:text> </xsl:text>
          <span class="time"><xsl:value-of select="@created_at"/></span>
          <xsl:if test="starts-with(@flag, 'RETWEET')">
            <xsl:text> </xsl:text>
            <span class="badge">转发</span>
          </xsl:if>
        </div>
        <div class="text"><xsl:value-of select="@text" disable-output-escaping="yes"/></div>
        <xsl:if test="normalize-space(@root_in_reply_to_status_text) != '' and @root_in_reply_to_status_text != 'NULL'">
          <div class="root">
            <xsl:if test="normalize-space(@root_in_reply_to_user_name) != '' and @root_in_reply_to_user_name != 'NULL'">
              <span class="author">@<xsl:value-of select="@root_in_reply_to_user_name"/></span>
              <xsl:text>：</xsl:text>
            </xsl:if>
            <xsl:value-of select="@root_in_reply_to_status_text" disable-output-escaping="yes"/>
          </div>
        </xsl:if>
        <div class="actions">
          <xsl:if test="normalize-space(@source) != '' and @source != 'NULL'">
            <span class="source">来自 <xsl:value-of select="@source"/></span>
            <xsl:text> </xsl:text>
          </xsl:if>
          <a class="retweet" href="tavi://retweet/id={@id}" target="_blank">转发</a>
          <xsl:text> | </xsl:text>
          <a class="comments" href="tavi://comments/id={@id}" target="_blank">评论</a>
          <xsl:text> | </xsl:text>
          <xsl:choose>
            <xsl:when test="@favorited = 'TRUE'">
              <a class="favorite" href="tavi://favorite_del/id={@id}" target="_blank">取消收藏</a>
            </xsl:when>
            <xsl:otherwise>
              <a class="favorite" href="tavi://favorite_add/id={@id}" target="_blank">收藏</a>
            </xsl:otherwise>
          </xsl:choose>
          <xsl:if test="user/@id = $me">
            <xsl:text> | </xsl:text>
            <a class="delete" href="tavi://delete/id={@id}" target="_blank">删除</a>
          </xsl:if>
        </div>
      </div>
    </div>
  </xsl:template>
</xsl:stylesheet>
